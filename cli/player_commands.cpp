#include "cli/command.h"

#include "midi_edit/player/fluidsynth_player.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace chwr::cli {

namespace {

namespace fs = std::filesystem;

// How often the readout changes: on a terminal in place, otherwise one line each time.
constexpr int kTerminalReadoutMs = 100;
constexpr int kLineReadoutMs = 1000;
// How long the play loop sleeps between polls of the player.
constexpr std::chrono::milliseconds kPollStep{20};

std::atomic<bool> g_interrupted{false};

extern "C" void noteInterrupt(int)
{
    g_interrupted = true;
}

// Ctrl-C only sets a flag while a song plays, so the player is stopped and closed in
// order; the previous handler comes back afterwards.
class InterruptCatcher {
public:
    InterruptCatcher()
    {
        g_interrupted = false;
        struct sigaction action {};
        action.sa_handler = noteInterrupt;
        sigemptyset(&action.sa_mask);
        m_installed = ::sigaction(SIGINT, &action, &m_previous) == 0;
    }
    ~InterruptCatcher()
    {
        if (m_installed)
            ::sigaction(SIGINT, &m_previous, nullptr);
    }
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

private:
    struct sigaction m_previous {};
    bool m_installed = false;
};

// m:ss.t, as the window's transport shows it.
std::string readout(std::int64_t milliseconds)
{
    const std::int64_t tenths = std::max<std::int64_t>(0, milliseconds) / 100;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                  static_cast<long long>((tenths / 10) % 60), static_cast<long long>(tenths % 10));
    return text;
}

int runPlay(CommandArgs& args, Streams io)
{
    PlayerArgs parsed;
    declarePlayerOptions(args, parsed);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 1)
        return args.usageError(io, "give one MIDI file");

    FluidSynthPlayerOptions options;
    if (!parsed.soundFonts.empty())
        options.soundFonts.named = parsed.soundFonts.back();
    if (parsed.silent)
        options.audio = AudioOutput::Silent;
    FluidSynthPlayer player(std::move(options));
    const fs::path file = args.positional().front();
    player.setDeviceType("Sequencer");
    player.setFileName(file);
    if (auto opened = player.command("Open"); !opened)
        return failure(io, opened.error());

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    const std::string total = readout(player.length());
    player.setUpdateInterval(terminal ? kTerminalReadoutMs : kLineReadoutMs);
    player.setStatusUpdateHandler([&] {
        io.out << (terminal ? "\r  " : "  ") << readout(player.position()) << " / " << total
               << (terminal ? "" : "\n") << std::flush;
    });

    InterruptCatcher catcher;
    if (auto played = player.command("Play"); !played)
        return failure(io, played.error());
    io.out << "Playing " << file.string() << " (" << total << ") "
           << (player.audible() ? "through the audio output"
               : parsed.silent  ? "silently"
                                : "silently (no audio output)")
           << ", SoundFont " << player.soundFont().string() << ". Ctrl-C stops.\n"
           << std::flush;
    while (player.isPlaying() && !g_interrupted) {
        player.poll();
        std::this_thread::sleep_for(kPollStep);
    }
    const bool stopped = g_interrupted;
    (void)player.command("Stop");
    const std::int64_t reached = player.position();
    (void)player.command("Close");
    io.out << (terminal ? "\n" : "")
           << (stopped ? "Stopped at " + readout(reached) + "." : std::string("Done.")) << "\n";
    return kExitOk;
}

int runRender(CommandArgs& args, Streams io)
{
    PlayerArgs parsed;
    declarePlayerOptions(args, parsed);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 2)
        return args.usageError(io, "give the MIDI file and the WAV file to write");
    io.json = parsed.json;

    SoundFontSearch search = systemSoundFontSearch();
    if (!parsed.soundFonts.empty())
        search.named = parsed.soundFonts.back();
    auto soundFont = findSoundFont(search);
    if (!soundFont)
        return failure(io, soundFont.error());
    const fs::path midi = args.positional()[0];
    const fs::path wav = args.positional()[1];
    auto rendered = renderMidiToWav(midi, wav, *soundFont);
    if (!rendered)
        return failure(io, rendered.error());
    if (parsed.json) {
        printJson(io.out, Json{{"source", midi.string()},
                               {"length_ms", rendered->songMilliseconds},
                               {"file", wav.string()},
                               {"soundfont", soundFont->string()},
                               {"frames", rendered->frames},
                               {"sample_rate", rendered->sampleRate}});
        return kExitOk;
    }
    io.out << "Rendered " << midi.string() << " (" << readout(rendered->songMilliseconds) << ") to "
           << wav.string() << " with " << soundFont->string() << ": " << rendered->frames << " frames at "
           << rendered->sampleRate << " Hz.\n";
    return kExitOk;
}

} // namespace

std::vector<Command> playerCommands()
{
    std::vector<Command> commands;
    for (const PlayerCommandText& text : playerCommandTexts())
        commands.push_back({text.name, text.synopsis, text.summary, text.help,
                            std::string_view(text.name) == "play" ? runPlay : runRender});
    return commands;
}

} // namespace chwr::cli
