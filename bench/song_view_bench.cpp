// The song view: building the notes of a song once per open, and painting the whole view.
// Painting runs offscreen (QT_QPA_PLATFORM=offscreen unless set otherwise).

#include "bench/smf_generator.h"
#include "midi_edit/song_model.h"
#include "midi_edit/ui/song_view.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>


namespace chwr::bench {
namespace {

// A wide window's view.
constexpr int kViewWidth = 1600;
constexpr int kViewHeight = 400;
// The stretch a zoomed view shows, in milliseconds.
constexpr double kZoomedSpanMs = 20000;

void BM_BuildSongModel(benchmark::State& state)
{
    const Bytes& bytes = song(static_cast<std::size_t>(state.range(0)));
    std::size_t notes = 0;
    for (auto _ : state) {
        Result<SongModel> model = SongModel::build(bytes);
        notes = model ? model->noteCount() : 0;
        benchmark::DoNotOptimize(notes);
    }
    state.counters["notes"] = static_cast<double>(notes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_BuildSongModel)->Arg(kRingTone)->Arg(kOneMegabyte)->Unit(benchmark::kMillisecond);

// Every pixel of the view painted: ruler, keys, every note, shade, marks and play line;
// range(1) zooms in to a stretch in the middle of the song.
void BM_PaintSongView(benchmark::State& state)
{
    SongView view;
    view.resize(kViewWidth, kViewHeight);
    view.show();
    QCoreApplication::processEvents();
    Result<SongModel> model = SongModel::build(song(static_cast<std::size_t>(state.range(0))));
    if (!model) {
        state.SkipWithError(model.error().c_str());
        return;
    }
    const double length = model->lengthMs();
    view.setSource(std::move(*model));
    view.setStartMark(length / 4);
    view.setEndMark(length / 2);
    view.setPosition(length / 3);
    if (state.range(1) != 0) {
        view.zoomAround(view.millisecondsPerPixel() * view.viewport()->width() / kZoomedSpanMs,
                        view.xOf(length / 2));
    }
    QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.viewport()->render(&image);
        benchmark::ClobberMemory();
    }
    state.counters["ms_per_pixel"] = view.millisecondsPerPixel();
}
BENCHMARK(BM_PaintSongView)
    ->ArgNames({"bytes", "zoomed"})
    ->Args({static_cast<std::int64_t>(kOneMegabyte), 0})
    ->Args({static_cast<std::int64_t>(kOneMegabyte), 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace chwr::bench

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
