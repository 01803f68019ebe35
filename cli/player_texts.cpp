#include "cli/command.h"

#include <string_view>

namespace chwr::cli {

const std::vector<PlayerCommandText>& playerCommandTexts()
{
    static const std::vector<PlayerCommandText> texts{
        {"play", "play FILE.mid [--soundfont SF2] [--silent]",
         "Plays a MIDI file with a position readout; Ctrl-C stops.",
         "Plays through the system's audio output (PulseAudio or ALSA) with a General MIDI SoundFont:\n"
         "--soundfont names one, else CHIMEWRIGHT_SOUNDFONT, the \"CHWR-SoundFont\" setting, or the\n"
         "system's (/usr/share/sounds/sf2). Without an audio output, or with --silent, it keeps time\n"
         "silently. CHIMEWRIGHT_AUDIO_DRIVER names a FluidSynth audio driver (\"none\" for silence)."},
        {"render", "render FILE.mid OUT.wav [--soundfont SF2] [--json]",
         "Renders a MIDI file into a WAV file through the same synthesizer.",
         "Writes 16-bit stereo at 44100 Hz, as fast as the processor allows. The WAV file is written\n"
         "beside its target and renamed into place: a failed render leaves an existing file unchanged.\n"
         "--json prints {\"source\": FILE.mid, \"length_ms\": L, \"file\": OUT.wav, \"soundfont\": SF2, "
         "\"frames\": F,\n"
         "\"sample_rate\": 44100}."},
    };
    return texts;
}

void declarePlayerOptions(CommandArgs& args, PlayerArgs& options)
{
    args.option("--soundfont", "SF2", options.soundFonts);
    if (std::string_view(playerCommandTexts()[0].name) == args.commandName())
        args.flag("--silent", options.silent);
    else
        args.flag("--json", options.json);
}

} // namespace chwr::cli
