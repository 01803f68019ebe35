#include "midi_edit/channel_table.h"

#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// Waits this long for another process (the window, chwr) that holds the file locked.
constexpr int kBusyTimeoutMs = 2000;
constexpr int kFirstChannel = 1;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

enum class Field { Channel, Octave, Velocity, Volume, Patch, Unknown };

Field fieldNamed(std::string_view name)
{
    std::string key = lowered(name);
    if (key == "channel")
        return Field::Channel;
    if (key == "octave")
        return Field::Octave;
    if (key == "velocity")
        return Field::Velocity;
    if (key == "volume")
        return Field::Volume;
    if (key == "patch")
        return Field::Patch;
    return Field::Unknown;
}

const char* columnName(AdjustField field)
{
    switch (field) {
    case AdjustField::Octave: return "Octave";
    case AdjustField::Velocity: return "Velocity";
    case AdjustField::Volume: return "Volume";
    }
    return "";
}

bool isProgramNumber(int value)
{
    return value >= 0 && value <= smf::kDataByteMax;
}

// A stored value as a whole number: NULL and empty text are empty; text must be a
// whole number; anything else cannot be used.
Result<std::optional<int>> wholeNumberOf(sqlite3_stmt* statement, int column, const char* name)
{
    auto refuse = [&](const std::string& shown) -> Error {
        return Error{std::string("The channel table holds ") + shown + " in " + name + ", which is not a whole number."};
    };
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL: return std::optional<int>{};
    case SQLITE_INTEGER: {
        sqlite3_int64 value = sqlite3_column_int64(statement, column);
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            return refuse(std::to_string(value));
        return std::optional<int>{static_cast<int>(value)};
    }
    case SQLITE_FLOAT: {
        double value = sqlite3_column_double(statement, column);
        if (value != std::floor(value) || std::abs(value) > std::numeric_limits<int>::max())
            return refuse(std::to_string(value));
        return std::optional<int>{static_cast<int>(value)};
    }
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        std::string_view view = text ? std::string_view(text) : std::string_view();
        while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front())))
            view.remove_prefix(1);
        while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back())))
            view.remove_suffix(1);
        if (view.empty())
            return std::optional<int>{};
        int value = 0;
        auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
        if (error != std::errc() || end != view.data() + view.size())
            return refuse("\"" + std::string(view) + "\"");
        return std::optional<int>{value};
    }
    }
}

}  // namespace

Result<std::optional<int>> readField(const ChannelAdjustment& row, std::string_view name)
{
    switch (fieldNamed(name)) {
    case Field::Channel: return std::optional<int>{row.Channel};
    case Field::Octave: return row.Octave;
    case Field::Velocity: return row.Velocity;
    case Field::Volume: return row.Volume;
    case Field::Patch: return row.Patch;
    case Field::Unknown: break;
    }
    return Error{"The channel table has no field \"" + std::string(name) + "\"."};
}

Result<void> writeField(ChannelAdjustment& row, std::string_view name, std::optional<int> value)
{
    switch (fieldNamed(name)) {
    case Field::Channel: return Error{"The Channel of a row cannot be changed."};
    case Field::Octave: row.Octave = value; return {};
    case Field::Velocity: row.Velocity = value; return {};
    case Field::Volume: row.Volume = value; return {};
    case Field::Patch: row.Patch = value; return {};
    case Field::Unknown: break;
    }
    return Error{"The channel table has no field \"" + std::string(name) + "\"."};
}

ChannelAdjustments adjustmentsFromRows(const std::vector<ChannelAdjustment>& rows,
                                       const std::array<int, smf::kChannelCount>& openPrograms)
{
    ChannelAdjustments result{};
    std::array<bool, smf::kChannelCount> octaveSet{}, velocitySet{}, volumeSet{}, patchSet{};
    for (const ChannelAdjustment& row : rows) {
        if (row.Channel < kFirstChannel || row.Channel > smf::kChannelCount)
            continue;
        auto index = static_cast<std::size_t>(row.Channel - kFirstChannel);
        ChannelChange& change = result[index];
        auto take = [](const std::optional<int>& field, bool& set, int& target) {
            if (!set && field && *field != 0) {
                target = *field;
                set = true;
            }
        };
        take(row.Octave, octaveSet[index], change.octave);
        take(row.Velocity, velocitySet[index], change.velocity);
        take(row.Volume, volumeSet[index], change.volume);
        if (!patchSet[index] && row.Patch && *row.Patch != openPrograms[index]) {
            patchSet[index] = true;
            if (isProgramNumber(*row.Patch))
                change.patch = *row.Patch;
        }
    }
    return result;
}

void ChannelTable::Closer::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

ChannelTable::ChannelTable(std::unique_ptr<sqlite3, Closer> db, fs::path path)
    : m_db(std::move(db)), m_path(std::move(path))
{
}

ChannelTable::ChannelTable(ChannelTable&&) noexcept = default;
ChannelTable& ChannelTable::operator=(ChannelTable&&) noexcept = default;
ChannelTable::~ChannelTable() = default;

fs::path ChannelTable::defaultPath()
{
    return programFolder() / kFileName;
}

Error ChannelTable::failure(const std::string& what) const
{
    return Error{"The channel table \"" + m_path.string() + "\" cannot be " + what + ": " + sqlite3_errmsg(m_db.get())};
}

Result<ChannelTable> ChannelTable::open(const fs::path& path)
{
    if (int e = injectedFault(FileOp::OpenWrite, path))
        return Error{"The channel table \"" + path.string() + "\" cannot be opened: " + systemMessage(e)};
    std::error_code folderError;
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), folderError);
    if (folderError)
        return Error{"Cannot create the folder \"" + path.parent_path().string() + "\": " + folderError.message()};

    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);
    if (rc != SQLITE_OK)
        return Error{"The channel table \"" + path.string() + "\" cannot be opened: " +
                     (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc))};
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    ChannelTable table(std::move(db), path);
    // The rows are rebuilt at every open, so a commit need not wait for the disk: with a
    // write-ahead log a crash loses at most the last edits, never the file.
    if (auto journal = table.execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL"); !journal)
        return Error{journal.error()};

    // The "registration" on this system: the table and its sixteen rows appear once.
    Result<void> registered = table.inTransaction([&]() -> Result<void> {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(table.m_db.get(),
                               "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='tblMIDIAdjust'", -1,
                               &raw, nullptr) != SQLITE_OK)
            return table.failure("opened");
        Statement probe(raw);
        if (sqlite3_step(raw) != SQLITE_ROW)
            return table.failure("opened");
        if (sqlite3_column_int(raw, 0) > 0)
            return {};
        std::string create = "CREATE TABLE tblMIDIAdjust (Channel INTEGER NOT NULL, Octave INTEGER, "
                             "Velocity INTEGER, Volume INTEGER, Patch INTEGER)";
        if (auto created = table.execute(create); !created)
            return created;
        for (int channel = kFirstChannel; channel <= smf::kChannelCount; ++channel) {
            std::string insert = "INSERT INTO tblMIDIAdjust (Channel, Octave, Velocity, Volume, Patch) VALUES (" +
                                 std::to_string(channel) + ", 0, 0, 0, -1)";
            if (auto inserted = table.execute(insert); !inserted)
                return inserted;
        }
        return {};
    });
    if (!registered)
        return Error{registered.error()};
    return table;
}

Result<void> ChannelTable::execute(const std::string& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(m_db.get());
        sqlite3_free(message);
        return Error{"The channel table \"" + m_path.string() + "\" cannot be used: " + text};
    }
    return {};
}

Result<std::vector<ChannelAdjustment>> ChannelTable::query(const std::string& sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        return failure("read");
    Statement statement(raw);

    // Columns by name, without regard to case, wherever the table has them.
    int rowIdColumn = -1;
    std::array<int, 5> columns{-1, -1, -1, -1, -1};
    for (int i = 0; i < sqlite3_column_count(raw); ++i) {
        std::string name = lowered(sqlite3_column_name(raw, i));
        if (name == "rowid")
            rowIdColumn = i;
        else if (Field field = fieldNamed(name); field != Field::Unknown)
            columns[static_cast<std::size_t>(field)] = i;
    }
    if (columns[static_cast<std::size_t>(Field::Channel)] < 0)
        return Error{"The channel table \"" + m_path.string() + "\" has no Channel field."};

    std::vector<ChannelAdjustment> rows;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        ChannelAdjustment row;
        if (rowIdColumn >= 0)
            row.rowId = sqlite3_column_int64(raw, rowIdColumn);
        static constexpr const char* kNames[] = {"Channel", "Octave", "Velocity", "Volume", "Patch"};
        std::array<std::optional<int>, 5> values;
        for (std::size_t f = 0; f < values.size(); ++f) {
            if (columns[f] < 0)
                continue;
            Result<std::optional<int>> value = wholeNumberOf(raw, columns[f], kNames[f]);
            if (!value)
                return Error{value.error()};
            values[f] = *value;
        }
        row.Channel = values[0].value_or(0);
        row.Octave = values[1];
        row.Velocity = values[2];
        row.Volume = values[3];
        row.Patch = values[4];
        rows.push_back(row);
    }
    if (rc != SQLITE_DONE)
        return failure("read");
    return rows;
}

Result<std::vector<ChannelAdjustment>> ChannelTable::rows()
{
    return query("SELECT rowid AS rowid, * FROM tblMIDIAdjust ORDER BY rowid");
}

Result<void> ChannelTable::save(const ChannelAdjustment& row)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), "UPDATE tblMIDIAdjust SET Octave=?, Velocity=?, Volume=?, Patch=? WHERE rowid=?",
                           -1, &raw, nullptr) != SQLITE_OK)
        return failure("written");
    Statement statement(raw);
    const std::optional<int>* fields[] = {&row.Octave, &row.Velocity, &row.Volume, &row.Patch};
    for (int i = 0; i < 4; ++i) {
        if (*fields[i])
            sqlite3_bind_int(raw, i + 1, **fields[i]);
        else
            sqlite3_bind_null(raw, i + 1);
    }
    sqlite3_bind_int64(raw, 5, row.rowId);
    if (sqlite3_step(raw) != SQLITE_DONE)
        return failure("written");
    return {};
}

Result<void> ChannelTable::resetForOpen()
{
    return execute("UPDATE tblMIDIAdjust SET Patch=-1, Velocity=0, Volume=0, Octave=0");
}

Result<void> ChannelTable::fillPatch(int statusChannel, int program)
{
    return execute("UPDATE tblMIDIAdjust SET Patch=" + std::to_string(program) +
                   " WHERE Channel=" + std::to_string(statusChannel + kFirstChannel));
}

Result<void> ChannelTable::inTransaction(const std::function<Result<void>()>& work)
{
    if (auto begun = execute("BEGIN IMMEDIATE"); !begun)
        return begun;
    if (auto done = work(); !done) {
        (void)execute("ROLLBACK");
        return done;
    }
    return execute("COMMIT");
}

Result<void> ChannelTable::fillPatchesInsideTransaction(const std::array<int, smf::kChannelCount>& programs)
{
    for (int channel = 0; channel < smf::kChannelCount; ++channel) {
        int program = programs[static_cast<std::size_t>(channel)];
        if (program == smf::kNoProgram)
            continue;
        if (auto filled = fillPatch(channel, program); !filled)
            return filled;
    }
    return {};
}

Result<void> ChannelTable::fillPatches(const std::array<int, smf::kChannelCount>& programs)
{
    return inTransaction([&] { return fillPatchesInsideTransaction(programs); });
}

Result<void> ChannelTable::resetAndFillPatches(const std::array<int, smf::kChannelCount>& programs)
{
    return inTransaction([&]() -> Result<void> {
        if (auto reset = resetForOpen(); !reset)
            return reset;
        return fillPatchesInsideTransaction(programs);
    });
}

Result<std::vector<ChannelAdjustment>> ChannelTable::rowsChanging(int channel, AdjustField field)
{
    std::string name = columnName(field);
    return query("SELECT * FROM tblMIDIAdjust WHERE [Channel]=" + std::to_string(channel) + " AND [" + name +
                 "] <> 0 AND [" + name + "] is not NULL");
}

Result<std::vector<ChannelAdjustment>> ChannelTable::rowsWithPatchOtherThan(int channel, int program)
{
    return query("SELECT * FROM tblMIDIAdjust WHERE [Channel]=" + std::to_string(channel) +
                 " AND [Patch] <> " + std::to_string(program));
}

Result<ChannelAdjustments> ChannelTable::adjustmentsForRewrite(
    const std::array<int, smf::kChannelCount>& openPrograms)
{
    ChannelAdjustments result{};
    for (int channel = kFirstChannel; channel <= smf::kChannelCount; ++channel) {
        auto index = static_cast<std::size_t>(channel - kFirstChannel);
        ChannelChange& change = result[index];
        struct Lookup {
            AdjustField field;
            std::optional<int> ChannelAdjustment::*member;
            int& target;
        };
        Lookup lookups[] = {{AdjustField::Octave, &ChannelAdjustment::Octave, change.octave},
                            {AdjustField::Velocity, &ChannelAdjustment::Velocity, change.velocity},
                            {AdjustField::Volume, &ChannelAdjustment::Volume, change.volume}};
        for (const Lookup& lookup : lookups) {
            Result<std::vector<ChannelAdjustment>> found = rowsChanging(channel, lookup.field);
            if (!found)
                return Error{found.error()};
            if (!found->empty())
                lookup.target = (found->front().*lookup.member).value_or(0);
        }
        Result<std::vector<ChannelAdjustment>> patched = rowsWithPatchOtherThan(channel, openPrograms[index]);
        if (!patched)
            return Error{patched.error()};
        if (!patched->empty() && patched->front().Patch && isProgramNumber(*patched->front().Patch))
            change.patch = *patched->front().Patch;
    }
    return result;
}

}  // namespace chwr
