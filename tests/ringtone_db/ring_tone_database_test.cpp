#include "ringtone_db/ring_tone_database.h"

#include "tests/support/pdb_builder.h"

#include <gmock/gmock.h>

namespace chwr {
namespace {

using test::bytesOf;
using test::concat;
using test::PdbBuilder;
using test::pdbHeader;
using test::PdbHeaderFields;
using test::recordListEntry;
using test::toneRecord;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

RingToneDatabase decoded(ByteView file)
{
    Result<RingToneDatabase> database = RingToneDatabase::decode(file);
    if (!database)
        ADD_FAILURE() << database.error();
    return database ? std::move(database).value() : RingToneDatabase();
}

Bytes encoded(const RingToneDatabase& database)
{
    Result<Bytes> bytes = database.encode();
    if (!bytes)
        ADD_FAILURE() << bytes.error();
    return bytes ? std::move(bytes).value() : Bytes();
}

std::string decodeError(ByteView file)
{
    Result<RingToneDatabase> database = RingToneDatabase::decode(file);
    if (database) {
        ADD_FAILURE() << "the file was accepted";
        return {};
    }
    return database.error();
}

std::uint32_t u32At(ByteView bytes, std::size_t offset)
{
    return *readUint32BigEndian(bytes, offset);
}

std::vector<std::string> names(const RingToneDatabase& database)
{
    std::vector<std::string> result;
    for (const RingToneRecord& tone : database.ringTones())
        result.push_back(asString(tone.name));
    return result;
}

// An empty database as the handheld keeps it: header, no records, the 0x00.
RingToneDatabase emptyDatabase()
{
    return decoded(PdbBuilder().build());
}

// ---- Decoding ------------------------------------------------------------------

TEST(RingToneDatabaseDecodeTest, ReadsNamesDataAndTheAddedFlag)
{
    const Bytes plain = bytesOf("MThd-plain");
    const Bytes added = bytesOf("MThd-added@");
    auto database = decoded(PdbBuilder().ringTone("Plain", plain).ringTone("", added).build());
    ASSERT_EQ(database.ringTones().size(), 2u);
    const RingToneRecord& first = database.ringTones()[0];
    EXPECT_EQ(asString(first.name), "Plain");
    EXPECT_EQ(first.data, plain);
    EXPECT_EQ(first.size, 10);
    EXPECT_FALSE(first.carriesAddedMark());
    // An empty name (byte 6 of the record is 0x00) loads as an empty name.
    const RingToneRecord& second = database.ringTones()[1];
    EXPECT_EQ(asString(second.name), "");
    EXPECT_EQ(second.data, added);
    EXPECT_TRUE(second.carriesAddedMark());
}

TEST(RingToneDatabaseDecodeTest, KeepsTheHeaderFieldsAsRead)
{
    PdbHeaderFields fields;
    fields.modnumber = 0xFFFFFFFF;
    auto database = decoded(PdbBuilder().header(fields).ringTone("A", bytesOf("x")).build());
    EXPECT_EQ(database.header().modificationNumber(), 0xFFFFFFFFu);
    EXPECT_EQ(database.header().recordCount(), 1);
    EXPECT_EQ(asString(TrimAtNul(database.header().name)), "MIDI Ring Tones");
    Bytes header;
    database.header().appendTo(header);
    fields.records = 1;
    EXPECT_EQ(header, pdbHeader(fields));
}

TEST(RingToneDatabaseDecodeTest, ZeroRecordsYieldNoRingTones)
{
    auto database = decoded(PdbBuilder().build());
    EXPECT_TRUE(database.isLoaded());
    EXPECT_TRUE(database.ringTones().empty());
    // A bare header without even the 0x00 after the (empty) list is read as well.
    EXPECT_TRUE(decoded(pdbHeader({})).ringTones().empty());
}

TEST(RingToneDatabaseDecodeTest, SkipsSpansOfSixBytesOrFewerAndKeepsFileOrder)
{
    // Record 2's entry points 6 bytes before record 3, so its span is 6 bytes long.
    PdbHeaderFields fields;
    fields.records = 3;
    const Bytes first = toneRecord("One", bytesOf("1111"));
    const Bytes third = toneRecord("Three", bytesOf("3333"));
    const std::uint32_t firstAt = 78 + 3 * 8 + 2;
    const std::uint32_t thirdAt = firstAt + static_cast<std::uint32_t>(first.size()) + 1 + 6;
    Bytes file = concat({pdbHeader(fields), recordListEntry(firstAt), recordListEntry(thirdAt - 6),
                         recordListEntry(thirdAt), Bytes{0x00, 0x00}, first, Bytes(7, 0x00), third});
    auto database = decoded(file);
    EXPECT_THAT(names(database), ElementsAre("One", "Three"));
    EXPECT_EQ(asString(database.ringTones()[1].data), "3333");
    // The skipped record is not written back.
    EXPECT_EQ(decoded(encoded(database)).ringTones().size(), 2u);
    EXPECT_EQ(decoded(encoded(database)).header().recordCount(), 2);
}

TEST(RingToneDatabaseDecodeTest, SpansAreCutAsTheHandheldsLoaderCutsThem)
{
    // Records written back to back, without separating bytes: every record but the last
    // loses its final byte, and the byte before each record is read but ignored.
    const Bytes songA = bytesOf("MThd..A\xFF\x2F");
    const Bytes songB = bytesOf("MThd..B\xFF\x2F");
    Bytes a = songA;
    a.push_back(0x00);
    Bytes b = songB;
    b.push_back(0x00);
    auto database = decoded(PdbBuilder().ringTone("A", a).ringTone("B", b).buildBackToBack());
    ASSERT_EQ(database.ringTones().size(), 2u);
    EXPECT_EQ(database.ringTones()[0].data, songA);
    EXPECT_EQ(database.ringTones()[1].data, b);

    // The final 0x00 (end of track FF 2F 00) comes back on write: the 0x00 that leads
    // the next record takes its place, so the record bytes on disk are identical.
    const Bytes written = encoded(database);
    const std::uint32_t firstAt = u32At(written, 78);
    const Bytes expectedA = toneRecord("A", a);
    EXPECT_TRUE(std::equal(expectedA.begin(), expectedA.end(), written.begin() + firstAt));
}

TEST(RingToneDatabaseDecodeTest, FlagsAnyRingToneWhoseDataEndsInTheMark)
{
    auto database =
        decoded(PdbBuilder().ringTone("Mine", bytesOf("abc@")).ringTone("Theirs", bytesOf("@abc")).build());
    EXPECT_TRUE(database.ringTones()[0].carriesAddedMark());
    EXPECT_FALSE(database.ringTones()[1].carriesAddedMark());
}

// ---- Malformed databases ---------------------------------------------------------

TEST(RingToneDatabaseMalformedTest, RefusesAFileShorterThanItsHeader)
{
    Bytes file = pdbHeader({});
    file.pop_back();
    EXPECT_THAT(decodeError(file), HasSubstr("shorter than a Palm database header: it has 77 bytes"));
    EXPECT_THAT(decodeError(Bytes{}), HasSubstr("it has 0 bytes"));
}

TEST(RingToneDatabaseMalformedTest, RefusesARecordListThatRunsPastTheEnd)
{
    PdbHeaderFields fields;
    fields.records = 2;
    Bytes file = concat({pdbHeader(fields), recordListEntry(100), Bytes{0x00, 0x00}});
    EXPECT_THAT(decodeError(file),
                HasSubstr("record list of 2 entries runs past the end of the file (88 bytes)"));
}

TEST(RingToneDatabaseMalformedTest, RefusesOffsetsThatAreNegativeOrBeyondTheFileEvenInSkippedSpans)
{
    PdbHeaderFields fields;
    fields.records = 2;
    const Bytes record = toneRecord("A", bytesOf("data"));
    const std::uint32_t firstAt = 78 + 16 + 2;
    const Bytes body = concat({Bytes{0x00, 0x00}, record});
    const std::uint32_t fileSize = 78 + 16 + static_cast<std::uint32_t>(body.size());

    struct Case {
        std::uint32_t secondOffset;
        const char* message;
    };
    for (const Case& c :
         {Case{0x80000000, "Record 2 has the offset 2147483648, which is negative"},
          Case{0xFFFFFFFF, "Record 2 has the offset 4294967295, which is negative"},
          Case{fileSize, "Record 2 starts at offset 108, at or beyond the end of the file (108 bytes)"},
          // Just before the end: the span rule alone would skip it.
          Case{fileSize + 3, "at or beyond the end of the file"}}) {
        SCOPED_TRACE(c.secondOffset);
        Bytes file =
            concat({pdbHeader(fields), recordListEntry(firstAt), recordListEntry(c.secondOffset), body});
        ASSERT_EQ(file.size(), fileSize);
        EXPECT_THAT(decodeError(file), HasSubstr(c.message));
    }
}

TEST(RingToneDatabaseMalformedTest, RefusesASpanWithoutTheNulThatEndsTheName)
{
    PdbHeaderFields fields;
    fields.records = 1;
    const std::uint32_t at = 78 + 8 + 2;
    // Signature, dataOffset, reserved byte, then a name that runs to the end of the file.
    Bytes file = concat({pdbHeader(fields), recordListEntry(at), Bytes{0x00, 0x00}, bytesOf("PMrc\x09"),
                         Bytes{0x00}, bytesOf("NoEnd")});
    EXPECT_THAT(decodeError(file),
                HasSubstr("Record 1 (12 bytes at offset 88) has no 0x00 byte that ends its name"));

    // A span of exactly 7 bytes has no eighth byte for the name to start at.
    Bytes seven =
        concat({pdbHeader(fields), recordListEntry(at), Bytes{0x00, 0x00}, bytesOf("PMrc\x07"), Bytes{0x00}});
    EXPECT_THAT(decodeError(seven), HasSubstr("Record 1 (7 bytes at offset 88) has no 0x00"));

    // Six bytes are skipped without a word.
    Bytes six = concat({pdbHeader(fields), recordListEntry(at), Bytes{0x00, 0x00}, bytesOf("PMrc\x07")});
    EXPECT_TRUE(decoded(six).ringTones().empty());
}

TEST(RingToneDatabaseMalformedTest, RefusesARecordAtOffsetZeroWhoseSpanMustBeRead)
{
    PdbHeaderFields fields;
    fields.records = 1;
    Bytes file = concat({pdbHeader(fields), recordListEntry(0), Bytes{0x00, 0x00}});
    EXPECT_THAT(decodeError(file), HasSubstr("Record 1 starts at offset 0"));
}

// ---- Encoding --------------------------------------------------------------------

TEST(RingToneDatabaseEncodeTest, LaysOutThreeRingTonesExactly)
{
    // A, BB and CCC with 100, 200 and 300 bytes of data.
    auto database = emptyDatabase();
    ASSERT_TRUE(database.addRingTone(asBytes("A"), Bytes(99, 'a')));
    ASSERT_TRUE(database.addRingTone(asBytes("BB"), Bytes(199, 'b')));
    ASSERT_TRUE(database.addRingTone(asBytes("CCC"), Bytes(299, 'c')));
    const Bytes file = encoded(database);

    ASSERT_EQ(file.size(), 733u);
    EXPECT_EQ(*readUint16BigEndian(file, 76), 3);
    const std::uint32_t offsets[] = {104, 213, 423};
    const std::uint8_t uniqueIds[] = {0x98, 0x99, 0x9A};
    const std::uint8_t dataOffsets[] = {8, 9, 10};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::size_t entry = 78 + 8 * i;
        EXPECT_EQ(u32At(file, entry), offsets[i]);
        EXPECT_EQ(file[entry + 4], 0x40);
        EXPECT_THAT(Bytes(file.begin() + entry + 5, file.begin() + entry + 8),
                    ElementsAre(0x00, 0x3A, uniqueIds[i]));
        EXPECT_THAT(Bytes(file.begin() + offsets[i], file.begin() + offsets[i] + 4),
                    ElementsAre('P', 'M', 'r', 'c'));
        EXPECT_EQ(file[offsets[i] + 4], dataOffsets[i]);
        EXPECT_EQ(file[offsets[i] + 5], 0x00);
    }
    for (std::size_t zero : {102, 103, 212, 422})
        EXPECT_EQ(file[zero], 0x00) << zero;
    // The ring tones added here keep their "@" in the record.
    EXPECT_EQ(file[212 - 1], '@');
    EXPECT_EQ(file.back(), '@');
}

TEST(RingToneDatabaseEncodeTest, ReloadingAndWritingKeepsTheRecordBytes)
{
    // Written by the system, then loaded: only modnumber, attributes and IDs change.
    const Bytes original =
        PdbBuilder().ringTone("Alpha", bytesOf("abc@")).ringTone("Beta", bytesOf("de\x00")).build();
    auto database = decoded(original);
    const Bytes written = encoded(database);
    ASSERT_EQ(written.size(), original.size());
    EXPECT_EQ(u32At(written, 48), u32At(original, 48) + 1);
    EXPECT_TRUE(std::equal(original.begin() + 78, original.end(), written.begin() + 78));
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 48, written.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 52, original.begin() + 78, written.begin() + 52));
}

TEST(RingToneDatabaseEncodeTest, RaisesModnumberOncePerWriteAndWrapsAt32Bits)
{
    auto database = decoded(PdbBuilder().modnumber(5).build());
    EXPECT_EQ(u32At(encoded(database), 48), 6u);
    database.markWritten();
    EXPECT_EQ(u32At(encoded(database), 48), 7u);
    database.markWritten();
    EXPECT_EQ(database.header().modificationNumber(), 7u);

    auto wrapping = decoded(PdbBuilder().modnumber(0xFFFFFFFF).build());
    EXPECT_EQ(u32At(encoded(wrapping), 48), 0u);
}

TEST(RingToneDatabaseEncodeTest, CountsUniqueIdsAndRecordsPastOneHundredAndFour)
{
    auto database = emptyDatabase();
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(database.addRingTone(asBytes("T" + std::to_string(i)), bytesOf("m")));
    const Bytes file = encoded(database);
    // records as a full 16-bit count: 300 = 0x012C.
    EXPECT_THAT(Bytes(file.begin() + 76, file.begin() + 78), ElementsAre(0x01, 0x2C));
    auto uniqueIdOf = [&](std::size_t i) { return *readUint24BigEndian(file, 78 + 8 * i + 5); };
    EXPECT_EQ(uniqueIdOf(103), 0x003AFFu);
    EXPECT_EQ(uniqueIdOf(104), 0x003B00u);
    EXPECT_EQ(uniqueIdOf(299), 0x003A98u + 299);
    auto reloaded = decoded(file);
    ASSERT_EQ(reloaded.ringTones().size(), 300u);
    EXPECT_EQ(asString(reloaded.ringTones()[299].name), "T299");
}

TEST(RingToneDatabaseEncodeTest, AnEmptyLoadedDatabaseIsWrittenAsHeaderListAndZero)
{
    auto database = emptyDatabase();
    const Bytes file = encoded(database);
    EXPECT_EQ(file.size(), 79u);
    EXPECT_EQ(file.back(), 0x00);
}

TEST(RingToneDatabaseEncodeTest, RefusesALoadedNameLongerThan248Bytes)
{
    // Other software may store a longer name than a record written here can hold.
    auto database = decoded(PdbBuilder().ringTone(std::string(249, 'n'), bytesOf("d")).build());
    ASSERT_EQ(database.ringTones()[0].name.size(), 249u);
    Result<Bytes> file = database.encode();
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(),
              "Ring tone 1: The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes.");

    auto fits = decoded(PdbBuilder().ringTone(std::string(248, 'n'), bytesOf("d")).build());
    const Bytes written = encoded(fits);
    EXPECT_EQ(written[u32At(written, 78) + 4], 255);
}

TEST(RingToneDatabaseEncodeTest, NothingLoadedRefusesEverything)
{
    RingToneDatabase nothing;
    EXPECT_FALSE(nothing.isLoaded());
    Result<Bytes> file = nothing.encode();
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), "No MIDI Ring Tones loaded.");
    Result<std::size_t> added = nothing.addRingTone(asBytes("A"), bytesOf("m"));
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error(), "No MIDI Ring Tones loaded.");
}

// ---- Application and sort info blocks ----------------------------------------------

TEST(RingToneDatabaseInfoBlockTest, KeepsBothBlocksAndWritesThemAfterTheRecordList)
{
    const Bytes appInfo = bytesOf("APPINFO");
    const Bytes sortInfo = bytesOf("SRT");
    const Bytes file = PdbBuilder()
                           .appInfo(appInfo)
                           .sortInfo(sortInfo)
                           .ringTone("One", bytesOf("111"))
                           .ringTone("Two", bytesOf("22"))
                           .build();
    auto database = decoded(file);
    ASSERT_TRUE(database.appInfo());
    EXPECT_EQ(*database.appInfo(), appInfo);
    ASSERT_TRUE(database.sortInfo());
    EXPECT_EQ(*database.sortInfo(), sortInfo);
    EXPECT_THAT(names(database), ElementsAre("One", "Two"));

    const Bytes written = encoded(database);
    // app = 79 + 8 N, sort right after the application info, the first record right after that.
    const std::uint32_t app = 79 + 16;
    EXPECT_EQ(u32At(written, 52), app);
    EXPECT_EQ(u32At(written, 56), app + 7);
    EXPECT_EQ(written[78 + 16], 0x00);
    EXPECT_EQ(asString(ByteView(written).subspan(app, 10)), "APPINFOSRT");
    EXPECT_EQ(u32At(written, 78), app + 10);
    EXPECT_EQ(u32At(written, 86), app + 10 + toneRecord("One", bytesOf("111")).size() + 1);
    Bytes expected = file;
    expected[51] += 1; // modnumber 5 becomes 6; everything else as built
    EXPECT_EQ(written, expected);

    auto reloaded = decoded(written);
    EXPECT_EQ(*reloaded.appInfo(), appInfo);
    EXPECT_EQ(*reloaded.sortInfo(), sortInfo);
    EXPECT_EQ(reloaded.ringTones()[0].data, bytesOf("111"));
}

TEST(RingToneDatabaseInfoBlockTest, AnAbsentBlockHasOffsetZero)
{
    auto onlySort = decoded(PdbBuilder().sortInfo(bytesOf("S")).ringTone("One", bytesOf("1")).build());
    EXPECT_FALSE(onlySort.appInfo());
    const Bytes written = encoded(onlySort);
    EXPECT_EQ(u32At(written, 52), 0u);
    EXPECT_EQ(u32At(written, 56), 79u + 8);

    auto onlyApp = decoded(PdbBuilder().appInfo(bytesOf("AA")).build());
    EXPECT_EQ(*onlyApp.appInfo(), bytesOf("AA"));
    const Bytes appWritten = encoded(onlyApp);
    EXPECT_EQ(u32At(appWritten, 52), 79u);
    EXPECT_EQ(u32At(appWritten, 56), 0u);
    EXPECT_EQ(appWritten.size(), 81u);
}

TEST(RingToneDatabaseInfoBlockTest, EmptyBlocksAreDroppedSoTheWrittenFileLoadsAgain)
{
    // Both offsets point at the first record: two blocks of no bytes.
    auto database =
        decoded(PdbBuilder().appInfo(Bytes{}).sortInfo(Bytes{}).ringTone("One", bytesOf("1")).build());
    EXPECT_FALSE(database.appInfo());
    EXPECT_FALSE(database.sortInfo());
    // Without ring tones, offsets kept for them would point at the end of the file.
    ASSERT_TRUE(database.removeRingTone(0));
    const Bytes written = encoded(database);
    EXPECT_EQ(u32At(written, 52), 0u);
    EXPECT_EQ(u32At(written, 56), 0u);
    EXPECT_TRUE(decoded(written).isLoaded());
}

TEST(RingToneDatabaseInfoBlockTest, RefusesOffsetsThatPointNowhereUseful)
{
    const Bytes record = toneRecord("One", bytesOf("1"));
    auto fileWith = [&](std::uint32_t app, std::uint32_t sort) {
        PdbHeaderFields fields;
        fields.records = 1;
        fields.app = app;
        fields.sort = sort;
        // Header, list, 0x00, 4 bytes of blocks, then the record at 78 + 8 + 1 + 4 = 91.
        return concat({pdbHeader(fields), recordListEntry(91), Bytes{0x00}, bytesOf("AAAS"), record});
    };
    EXPECT_TRUE(decoded(fileWith(87, 90)).appInfo());
    struct Case {
        std::uint32_t app, sort;
        const char* message;
    };
    for (const Case& c : {Case{40, 0, "application info offset 40 points into the header or record list"},
                          Case{0, 80, "sort info offset 80 points into the header or record list"},
                          Case{92, 0, "application info offset 92 is beyond the first record"},
                          Case{5000, 0, "application info offset 5000 is at or beyond the end of the file"},
                          Case{90, 87, "application info offset 90 lies after the sort info offset 87"}}) {
        SCOPED_TRACE(c.message);
        EXPECT_THAT(decodeError(fileWith(c.app, c.sort)), HasSubstr(c.message));
    }
}

// ---- Editing -------------------------------------------------------------------------

TEST(RingToneDatabaseEditTest, AddsTheFileWithTheMarkAndGrowsWithoutLimit)
{
    auto database = decoded(PdbBuilder().ringTone("Loaded", bytesOf("x")).build());
    for (int i = 0; i < 40; ++i) {
        Result<std::size_t> index =
            database.addRingTone(asBytes("Tone" + std::to_string(i)), bytesOf("MThd"));
        ASSERT_TRUE(index) << index.error();
        EXPECT_EQ(*index, static_cast<std::size_t>(i) + 1);
    }
    const RingToneRecord& last = database.ringTones().back();
    EXPECT_EQ(last.data, bytesOf("MThd@"));
    EXPECT_EQ(last.size, 5);
    EXPECT_TRUE(last.carriesAddedMark());
}

TEST(RingToneDatabaseEditTest, AddRefusesLongNamesAndLargeFiles)
{
    auto database = emptyDatabase();
    Result<std::size_t> longName = database.addRingTone(Bytes(249, 'n'), bytesOf("m"));
    ASSERT_FALSE(longName);
    EXPECT_EQ(longName.error(),
              "The ring tone name is 249 bytes long; a ring tone name holds at most 248 bytes.");
    Result<std::size_t> large = database.addRingTone(asBytes("Big"), Bytes(64001, 0));
    ASSERT_FALSE(large);
    EXPECT_EQ(large.error(), "This MIDI file is larger than 64k and cannot be imported.");
    Result<std::size_t> largest = database.addRingTone(asBytes("Big"), Bytes(64000, 0));
    ASSERT_TRUE(largest);
    EXPECT_EQ(database.ringTones()[0].size, 64001);
    EXPECT_EQ(database.ringTones().size(), 1u);
}

TEST(RingToneDatabaseEditTest, NamesAreCutAtANulSoOffsetsAndRecordsAgree)
{
    auto database = emptyDatabase();
    ASSERT_TRUE(database.addRingTone(Bytes{'A', 'B', 0, 'C'}, bytesOf("m")));
    ASSERT_TRUE(database.addRingTone(asBytes("Next"), bytesOf("n")));
    EXPECT_EQ(asString(database.ringTones()[0].name), "AB");
    EXPECT_THAT(names(decoded(encoded(database))), ElementsAre("AB", "Next"));
}

TEST(RingToneDatabaseEditTest, RemovesAndRenamesByIndex)
{
    auto database = decoded(PdbBuilder().ringTone("A", bytesOf("1")).ringTone("B", bytesOf("2")).build());
    ASSERT_TRUE(database.renameRingTone(1, asBytes("B renamed (1)")));
    ASSERT_TRUE(database.removeRingTone(0));
    EXPECT_THAT(names(database), ElementsAre("B renamed (1)"));
    EXPECT_EQ(database.ringTones()[0].data, bytesOf("2"));

    Result<void> missing = database.removeRingTone(1);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "There is no ring tone 2.");
    Result<void> tooLong = database.renameRingTone(0, Bytes(300, 'x'));
    ASSERT_FALSE(tooLong);
    EXPECT_THAT(tooLong.error(), HasSubstr("at most 248 bytes"));
    EXPECT_THAT(names(database), ElementsAre("B renamed (1)"));
}

TEST(RingToneDatabaseEditTest, UniqueNamesCountUpFromOneAndCompareCase)
{
    auto database =
        decoded(PdbBuilder().ringTone("Song", bytesOf("1")).ringTone("Song (2)", bytesOf("2")).build());
    EXPECT_EQ(asString(database.uniqueRingToneName(asBytes("Song"))), "Song (1)");
    EXPECT_EQ(asString(database.uniqueRingToneName(asBytes("song"))), "song");
    EXPECT_EQ(asString(database.uniqueRingToneName(asBytes("Other"))), "Other");
    ASSERT_TRUE(database.addRingTone(asBytes("Song (1)"), bytesOf("3")));
    EXPECT_EQ(asString(database.uniqueRingToneName(asBytes("Song"))), "Song (3)");
}

} // namespace
} // namespace chwr
