#pragma once

#include <cstdint>
#include <string>

struct pg_result;

namespace velmora {

/// The rows of one answer of the store, owned: released with the object.
/// Rows and columns count from 0. Texts are UTF-8 as the server sent them;
/// numbers are read without the process locale. Move-only; used by one
/// thread at a time.
class PgResult {
public:
    PgResult() = default;
    /// Takes ownership of result (may be null: no rows).
    explicit PgResult(pg_result* result) : m_result(result) {}
    PgResult(PgResult&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    ~PgResult();

    int getRowCount() const;
    int getColumnCount() const;
    /// Rows an INSERT, UPDATE, DELETE or COPY touched; 0 for other commands.
    int64_t getAffectedRows() const;
    bool isNull(int row, int column) const;
    /// The value's text; "" for NULL and for a cell that does not exist.
    const char* getText(int row, int column) const;
    std::string getString(int row, int column) const { return getText(row, column); }
    /// The value as a number; throws StoreException (DATA) when the text is
    /// not one. NULL reads as fallback.
    int64_t getInt64(int row, int column, int64_t fallback = 0) const;
    double getDouble(int row, int column, double fallback = 0.0) const;
    /// "t" is true; anything else false.
    bool getBool(int row, int column) const;

    pg_result* getHandle() const { return m_result; }

private:
    pg_result* m_result = nullptr;
};

} // namespace velmora
