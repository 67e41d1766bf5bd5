// Speed of the message layouts on the server's hot path: a fighter's board
// snapshot decoded as it arrives (the server relays several per second per
// fighter), checked in place as the server does before relaying it, the same
// snapshot encoded, and the short messages of a fight.
#include "Common/MessageCodec.h"

#include <benchmark/benchmark.h>

namespace common = gemvolt::common;

namespace {

common::Bytes boardBytes() {
    std::array<common::GemCell, common::BoardCells> cells{};
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = {i % 3 != 0,
                    static_cast<std::int16_t>(i % 2 ? common::ShapeNormal : common::ShapeCrash),
                    static_cast<std::int16_t>(i), i % 2 ? common::GemBlue : common::GemRed};
    }
    return common::encode(common::MsgBoardState::fromBoard(2, cells, "07"));
}

void BM_DecodeBoardFromClient(benchmark::State& state) {
    const common::Bytes bytes = boardBytes();
    for (auto _ : state) {
        auto decoded = common::decodeMessage(bytes, common::Direction::ClientToServer);
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeBoardFromClient);

void BM_DecodeBoardTyped(benchmark::State& state) {
    const common::Bytes bytes = boardBytes();
    for (auto _ : state) {
        auto decoded = common::decode<common::MsgBoardState>(bytes);
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeBoardTyped);

// What the server does with a snapshot it only passes on: the same acceptance
// as the decoders above, without building the cells.
void BM_CheckBoardInPlace(benchmark::State& state) {
    const common::Bytes bytes = boardBytes();
    for (auto _ : state) {
        auto board = common::checkedNumber(bytes, &common::MsgBoardState::Board);
        benchmark::DoNotOptimize(board);
    }
}
BENCHMARK(BM_CheckBoardInPlace);

void BM_EncodeBoard(benchmark::State& state) {
    const auto board = common::decode<common::MsgBoardState>(boardBytes()).value();
    for (auto _ : state) {
        auto bytes = common::encode(board);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_EncodeBoard);

void BM_DecodeNextPairFromServer(benchmark::State& state) {
    const common::Bytes bytes = common::encode(common::MsgNextPair{
        common::NumberField::number(1), common::NumberField::number(4),
        common::NumberField::number(common::GemRed), common::NumberField::number(3),
        common::NumberField::number(common::GemBlue)});
    for (auto _ : state) {
        auto decoded = common::decodeMessage(bytes, common::Direction::ServerToClient);
        benchmark::DoNotOptimize(decoded);
    }
}
BENCHMARK(BM_DecodeNextPairFromServer);

} // namespace

BENCHMARK_MAIN();
