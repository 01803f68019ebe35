// libFuzzer target: the ring tone database loader, on any bytes as a database file.
// A database that loads must write and load again to the same ring tones.

#include "ringtone_db/ring_tone_database.h"
#include "ringtone_db/ring_tone_files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Stops the run with the input saved when a property the loader promises does not hold.
void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const chwr::ByteView file(data, size);
    chwr::Result<chwr::RingToneDatabase> loaded = chwr::RingToneDatabase::decode(file);
    if (!loaded) {
        require(!loaded.error().empty());
        return 0;
    }
    chwr::RingToneDatabase& database = *loaded;
    require(database.isLoaded());
    const chwr::Bytes snapshot = chwr::headerSnapshot(file, database.header());
    require(snapshot.size() <= size + 1);
    for (const chwr::RingToneRecord& tone : database.ringTones()) {
        require(tone.size >= 0 && static_cast<std::size_t>(tone.size) == tone.data.size());
        (void)tone.carriesAddedMark();
    }

    // A write either is refused with a reason or gives a file that loads to the same list.
    chwr::Result<chwr::Bytes> written = database.encode();
    if (!written) {
        require(!written.error().empty());
        return 0;
    }
    chwr::Result<chwr::RingToneDatabase> again = chwr::RingToneDatabase::decode(*written);
    require(again.ok());
    require(again->ringTones().size() == database.ringTones().size());
    for (std::size_t i = 0; i < database.ringTones().size(); ++i) {
        const chwr::RingToneRecord& before = database.ringTones()[i];
        const chwr::RingToneRecord& after = again->ringTones()[i];
        require(before.name == after.name);
        require(before.data == after.data);
    }
    require(again->header().recordCount() == database.ringTones().size());
    require(again->header().modificationNumber() == database.header().modificationNumber() + 1);
    return 0;
}
