#pragma once

#include <string>
#include <vector>

namespace gemvolt::board {

/** One row of the player table, every field as text exactly as the standings gave it. */
struct PlayerRow {
    std::string ID; ///< identifier text
    std::string Name;
    std::string Wins;   ///< plain decimal
    std::string Losses; ///< plain decimal
};

/**
 * The client's copy of the server's queue: four parallel lists in queue order.
 * Row 0 fights on board 1, row 1 on board 2, further rows watch. A row that
 * does not exist reads as the empty text, which readers rely on.
 */
class PlayerTable {
public:
    /** Replace the whole table (the standings handler rewrites it in one piece). */
    void rewrite(std::vector<PlayerRow> rows) { m_rows = std::move(rows); }

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const std::string& listID(int row) const { return field(row, &PlayerRow::ID); }
    const std::string& listPlayerName(int row) const { return field(row, &PlayerRow::Name); }
    const std::string& listWins(int row) const { return field(row, &PlayerRow::Wins); }
    const std::string& listLosses(int row) const { return field(row, &PlayerRow::Losses); }
    const std::vector<PlayerRow>& rows() const { return m_rows; }

private:
    const std::string& field(int row, std::string PlayerRow::*member) const;

    std::vector<PlayerRow> m_rows;
};

} // namespace gemvolt::board
