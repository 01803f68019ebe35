// The ring tone database codec. Every write is compared byte for byte with a database
// that the test builder lays out as the handheld does.

#include "ringtone_db/ring_tone_database.h"
#include "ringtone_db/ring_tone_files.h"
#include "tests/support/pdb_builder.h"

#include <functional>
#include <gmock/gmock.h>

namespace chwr {
namespace {

using namespace test;

// A header naming these record offsets and info offsets, its record list, then `body`.
Bytes fileOf(std::initializer_list<std::uint32_t> offsets, ByteView body, std::uint32_t app = 0,
             std::uint32_t sort = 0)
{
    Bytes file = pdbHeader({.app = app, .sort = sort, .records = static_cast<std::uint16_t>(offsets.size())});
    for (std::uint32_t offset : offsets)
        file = concat({file, recordListEntry(offset)});
    return concat({file, body});
}

RingToneDatabase decoded(ByteView file)
{
    Result<RingToneDatabase> database = RingToneDatabase::decode(file);
    EXPECT_TRUE(database) << database.error();
    return database ? std::move(database).value() : RingToneDatabase();
}

TEST(RingToneDatabaseWriteTest, EachWriteGivesTheDatabaseByteForByte)
{
    using Edit = std::function<void(RingToneDatabase&)>;
    Bytes relabelled = pdb({{"Alpha", "abc@"}, {"Beta", {"d\0", 2}}});
    relabelled[78 + 4] = 0x00; // attributes and IDs as other software leaves them
    relabelled[78 + 7] = 0x11;
    relabelled[86 + 5] = 0x7F;
    // Record 2 starts 6 bytes before record 3, so its span holds no ring tone.
    const Bytes skipping = fileOf({104, 119, 125}, concat({Bytes{0, 0}, toneRecord("One", bytesOf("1111")),
                                                           Bytes(7, 0), toneRecord("Three", bytesOf("3"))}));
    const std::string a = {"MThd..A\xFF\x2F\0", 10}, b = {"MThd..B\xFF\x2F\0", 10};
    PdbBuilder backToBack;
    backToBack.ringTone("A", bytesOf(a)).ringTone("B", bytesOf(b));
    std::vector<std::pair<std::string, std::string>> hundreds;
    for (int i = 0; i < 300; ++i)
        hundreds.emplace_back("T" + std::to_string(i), "m@");
    const Bytes abc = pdb({{"A", "1"}, {"B", "2"}, {"C", "3"}});
    // Info offsets into the header or the record list, as other writers leave them.
    const Bytes records =
        concat({Bytes{0, 0}, toneRecord("A", bytesOf("a")), Bytes{0}, toneRecord("B", bytesOf("b"))});
    auto stale = [&](std::uint32_t app, std::uint32_t sort) { return fileOf({96, 106}, records, app, sort); };
    const Bytes ab = pdb({{"A", "a"}, {"B", "b"}}, 6);
    struct Case {
        const char* what;
        Bytes input, expected;
        Edit edit = {};
    } const cases[] = {
        {"loaded: only modnumber, attributes and IDs change", relabelled,
         pdb({{"Alpha", "abc@"}, {"Beta", {"d\0", 2}}}, 6)},
        {"back to back: each record but the last loses its last byte, restored by the next 0x00",
         backToBack.buildBackToBack(), pdb({{"A", a.substr(0, 9)}, {"B", b}}, 6)},
        {"a span of 6 bytes is skipped, not written back", skipping,
         pdb({{"One", "1111"}, {"Three", "3"}}, 6)},
        {"added: the name cut at its NUL, the data and \"@\"", pdb({{"One", "1"}}),
         pdb({{"One", "1"}, {"BC", "yz@"}}, 6),
         [](RingToneDatabase& db) {
             ASSERT_EQ(*db.addRingTone(Bytes{'B', 'C', 0, 'D'}, bytesOf("yz")), 1u);
         }},
        {"renamed, cut at a NUL, and to 248 bytes", abc,
         pdb({{"N", "1"}, {"B", "2"}, {std::string(248, 'n'), "3"}}, 6),
         [](RingToneDatabase& db) {
             ASSERT_TRUE(db.renameRingTone(0, Bytes{'N', 0, 'x'}));
             ASSERT_TRUE(db.renameRingTone(2, Bytes(248, 'n')));
         }},
        {"300 added: a 16-bit count, IDs past 00 3A FF", pdb({}), pdb(hundreds, 6),
         [](RingToneDatabase& db) {
             for (int i = 0; i < 300; ++i)
                 ASSERT_TRUE(db.addRingTone(bytesOf("T" + std::to_string(i)), bytesOf("m")));
         }},
        {"after a recorded write", pdb({}), pdb({}, 7), [](RingToneDatabase& db) { db.markWritten(); }},
        {"modnumber wraps at 32 bits", pdb({}, 0xFFFFFFFF), pdb({}, 0)},
        {"a bare header, without the 0x00 after the list", pdbHeader({}), pdb({}, 6)},
        {"both info blocks, the first record right after them", pdb({{"One", "1"}}, 5, "APPINFO", "SRT"),
         pdb({{"One", "1"}}, 6, "APPINFO", "SRT")},
        {"only sort info", pdb({{"One", "1"}}, 5, nullptr, "S"), pdb({{"One", "1"}}, 6, nullptr, "S")},
        {"only application info", pdb({}, 5, "AA"), pdb({}, 6, "AA")},
        {"empty info blocks are dropped, so a database without records loads again",
         pdb({{"One", "1"}}, 5, "", ""), pdb({}, 6),
         [](RingToneDatabase& db) { ASSERT_TRUE(db.removeRingTone(0)); }},
        {"stale application info offset in the header: taken as absent", stale(40, 0), ab},
        {"stale application info offset in the record list", stale(80, 0), ab},
        {"stale sort info offset in the record list", stale(0, 90), ab},
        {"stale application info after a stale sort info", stale(93, 78), ab},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RingToneDatabase database = decoded(c.input);
        if (c.edit)
            c.edit(database);
        Result<Bytes> written = database.encode();
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(*written, c.expected);
    }
}

// The edges of what a load refuses; bad_inputs_test holds the damaged files a user meets.
TEST(RingToneDatabaseReadTest, RefusesOffsetsAndNamesAtTheEdgeOfTheFile)
{
    const Bytes infoBody = concat({Bytes{0}, bytesOf("AAAS"), toneRecord("One", bytesOf("1"))});
    struct Case {
        Bytes file;
        std::string message; // empty: it loads with `tones` ring tones
        std::size_t tones = 0;
    } const cases[] = {
        {fileOf({96, 0x80000000}, Bytes{0, 0}),
         "Record 2 has the offset 2147483648, which is negative as a signed 32-bit number"},
        {fileOf({88}, Bytes{0, 0, 'P', 'M', 'r', 'c', 7, 0}),
         "Record 1 (7 bytes at offset 88) has no 0x00 byte that ends its name"},
        {fileOf({88}, Bytes{0, 0, 'P', 'M', 'r', 'c', 7}), "", 0},
        {fileOf({91}, infoBody, 86, 90), "", 1},
        {fileOf({91}, infoBody, 92), "The application info offset 92 is beyond the first record (at 91)"},
        {fileOf({}, Bytes{0, 1}, 80),
         "The application info offset 80 is at or beyond the end of the file (80 bytes)"},
        {fileOf({91}, infoBody, 90, 87), "The application info offset 90 lies after the sort info offset 87"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Result<RingToneDatabase> database = RingToneDatabase::decode(c.file);
        ASSERT_EQ(database.ok(), c.message.empty()) << (database ? "" : database.error());
        EXPECT_EQ(database ? std::to_string(database->ringTones().size()) : database.error(),
                  database ? std::to_string(c.tones) : c.message);
    }
}

TEST(RingToneDatabaseEditTest, RefusesWhatARecordCannotHoldAndMakesNamesUnique)
{
    RingToneDatabase nothing;
    for (const std::string& error :
         {nothing.encode().error(), nothing.addRingTone(bytesOf("A"), bytesOf("m")).error(),
          nothing.removeRingTone(0).error(), nothing.renameRingTone(0, bytesOf("A")).error()})
        EXPECT_EQ(error, kNoRingTonesLoadedMessage);

    RingToneDatabase database = decoded(pdb({{"Song", "1"}}));
    EXPECT_EQ(database.addRingTone(bytesOf("Big"), Bytes(64001, 0)).error(), kMidiFileTooLargeMessage);
    EXPECT_EQ(database.removeRingTone(1).error(), "There is no ring tone 2.");
    EXPECT_EQ(database.renameRingTone(1, bytesOf("x")).error(), "There is no ring tone 2.");
    EXPECT_EQ(exportRingTone(database, 1, "unwritten.mid").error(), "There is no ring tone 2.");
    ASSERT_EQ(*database.addRingTone(bytesOf("Song (2)"), Bytes(64000, 0)), 1u);
    // Counting up from 1, filling the first gap; case counts.
    EXPECT_EQ(asString(database.uniqueRingToneName(bytesOf("Song"))), "Song (1)");
    EXPECT_EQ(asString(database.uniqueRingToneName(bytesOf("song"))), "song");
    ASSERT_TRUE(database.addRingTone(bytesOf("Song (1)"), bytesOf("3")));
    EXPECT_EQ(asString(database.uniqueRingToneName(bytesOf("Song"))), "Song (3)");
}

TEST(RingToneDatabaseEditTest, AWriteHoldsAtMost65535RingTones)
{
    RingToneDatabase database = decoded(pdb({}));
    for (std::size_t i = 0; i < kMaxRingTones; ++i)
        ASSERT_TRUE(database.addRingTone({}, {}));
    Result<Bytes> full = database.encode();
    ASSERT_TRUE(full) << full.error();
    EXPECT_EQ(full->size(), 79u + 65535u * 17);
    EXPECT_EQ(decoded(*full).ringTones().size(), 65535u);
    ASSERT_TRUE(database.addRingTone({}, {}));
    EXPECT_EQ(database.encode().error(),
              "A ring tone database holds at most 65535 ring tones; this one has 65536.");
}

} // namespace
} // namespace chwr
