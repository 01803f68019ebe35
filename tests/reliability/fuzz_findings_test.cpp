// What the fuzzers found, each kept as a named case built the way the fuzzer's input
// was laid out.

#include "ringtone_db/ring_tone_database.h"
#include "tests/support/pdb_builder.h"

#include <gtest/gtest.h>

namespace chwr {
namespace {

using test::bytesOf;

// fuzz_ring_tone_database: an application info offset equal to the first record's offset
// holds a block of no bytes. Kept as a block, the next write pointed the offset at the
// end of a file whose only record had been skipped, and that file would not load.
TEST(FuzzFindings, AnEmptyApplicationInfoBlockIsWrittenBackAsNone)
{
    test::PdbHeaderFields fields;
    fields.records = 1;
    fields.app = 87;
    Bytes file = test::pdbHeader(fields);
    const Bytes entry = test::recordListEntry(87);
    file.insert(file.end(), entry.begin(), entry.end());
    file.push_back(0x00);
    // A record of four bytes: its span is too short to hold a ring tone.
    const Bytes shortRecord = bytesOf("PMrc");
    file.insert(file.end(), shortRecord.begin(), shortRecord.end());

    Result<RingToneDatabase> loaded = RingToneDatabase::decode(file);
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_TRUE(loaded->ringTones().empty());
    EXPECT_FALSE(loaded->appInfo());

    Result<Bytes> written = loaded->encode();
    ASSERT_TRUE(written) << written.error();
    Result<RingToneDatabase> reloaded = RingToneDatabase::decode(*written);
    ASSERT_TRUE(reloaded) << reloaded.error();
    EXPECT_EQ(reloaded->header().appInfoOffset(), 0u);
    EXPECT_EQ(written->size(), kPdbHeaderSize + 1);
}

} // namespace
} // namespace chwr
