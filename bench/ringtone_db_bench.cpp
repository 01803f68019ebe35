#include "ringtone_db/ring_tone_database.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/file_io.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using chwr::Bytes;
using chwr::RingToneDatabase;

// A full database as a user might keep it: 100 ring tones of 60 KB of MIDI data each.
constexpr int kRingTones = 100;
constexpr std::size_t kMidiBytes = 60000;

RingToneDatabase largeDatabase()
{
    Bytes header(chwr::kPdbHeaderSize, 0);
    chwr::Result<RingToneDatabase> database = RingToneDatabase::decode(header);
    if (!database)
        throw std::runtime_error(database.error());
    Bytes midi(kMidiBytes, 0x90);
    for (int i = 0; i < kRingTones; ++i) {
        if (auto added = database->addRingTone(chwr::asBytes("Ring tone " + std::to_string(i)), midi); !added)
            throw std::runtime_error(added.error());
    }
    return std::move(database).value();
}

Bytes largeFile()
{
    chwr::Result<Bytes> file = largeDatabase().encode();
    if (!file)
        throw std::runtime_error(file.error());
    return std::move(file).value();
}

// A folder of its own for the file benchmarks, which is also the program folder.
class BenchFolder {
public:
    BenchFolder() : m_path(fs::temp_directory_path() / ("chwr-bench-" + std::to_string(::getpid())))
    {
        fs::create_directories(m_path);
        ::setenv("CHIMEWRIGHT_HOME", m_path.c_str(), 1);
    }
    ~BenchFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

void BM_DecodeInMemory(benchmark::State& state)
{
    const Bytes file = largeFile();
    for (auto _ : state) {
        chwr::Result<RingToneDatabase> database = RingToneDatabase::decode(file);
        benchmark::DoNotOptimize(database);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_DecodeInMemory)->Unit(benchmark::kMillisecond);

void BM_EncodeInMemory(benchmark::State& state)
{
    const RingToneDatabase database = largeDatabase();
    std::size_t size = 0;
    for (auto _ : state) {
        chwr::Result<Bytes> file = database.encode();
        size = file ? file->size() : 0;
        benchmark::DoNotOptimize(file);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_EncodeInMemory)->Unit(benchmark::kMillisecond);

// Read, decode and write the header snapshot, as "Load Current Ring Tones" does.
void BM_LoadFromFile(benchmark::State& state)
{
    BenchFolder folder;
    const fs::path path = folder / chwr::kRingToneDatabaseFileName;
    const Bytes file = largeFile();
    if (auto written = chwr::writeFileAtomic(path, file); !written)
        throw std::runtime_error(written.error());
    for (auto _ : state) {
        chwr::Result<RingToneDatabase> database = chwr::loadRingTones(path);
        if (!database)
            state.SkipWithError(database.error().c_str());
        benchmark::DoNotOptimize(database);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);

// Encode, write to a flushed temporary file, link the backup, move into place.
void BM_UpdateToFile(benchmark::State& state)
{
    BenchFolder folder;
    const fs::path path = folder / chwr::kRingToneDatabaseFileName;
    RingToneDatabase database = largeDatabase();
    std::size_t size = database.encode()->size();
    for (auto _ : state) {
        auto outcome = chwr::updateRingTones(database, path, folder / "MIDI_Ring_Tones.bak", nullptr);
        if (!outcome)
            state.SkipWithError(outcome.error().c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_UpdateToFile)->Unit(benchmark::kMillisecond);

// The floor of an update: the same bytes written once to a flushed file moved into place.
// The update, backup included, should stay within twice this.
void BM_WriteOnceFloor(benchmark::State& state)
{
    BenchFolder folder;
    const fs::path path = folder / chwr::kRingToneDatabaseFileName;
    const Bytes file = largeFile();
    for (auto _ : state) {
        if (auto written = chwr::writeFileAtomic(path, file); !written)
            state.SkipWithError(written.error().c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_WriteOnceFloor)->Unit(benchmark::kMillisecond);

} // namespace
