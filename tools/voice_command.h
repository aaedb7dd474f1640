// recmux voice encode|decode|transcode: between 16-bit mono WAV files and
// files of voice frames, back to back as the library writes them.
#pragma once

namespace recmux_tool {

// args: what follows "voice" on the command line. The exit status: 0 done,
// 1 failed (one line on stderr says why), 2 bad arguments.
int VoiceCommand(int argc, char **argv);

}  // namespace recmux_tool
