#include "Client/board/PlayerTable.h"

namespace gemvolt::board {

const std::string& PlayerTable::field(int row, std::string PlayerRow::*member) const {
    static const std::string empty;
    if (row < 0 || row >= rowCount())
        return empty;
    return m_rows[static_cast<std::size_t>(row)].*member;
}

} // namespace gemvolt::board
