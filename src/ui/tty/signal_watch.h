#pragma once

namespace tw {

// What the signals asked for since the last look.
struct SignalNews {
    bool close = false;
    bool resize = false;
    bool resumed = false;
};

// Signals turned into events of the frame loop through a self-pipe: SIGINT, SIGTERM and
// SIGHUP ask to close (the same path as Ctrl+C), SIGWINCH reports a new terminal size.
// A stop (SIGTSTP) gives the terminal back first and takes it again on SIGCONT. Crash
// signals give the terminal back and then end the process as they would have.
class SignalWatch {
  public:
    // False when the pipe cannot be made; errno says why.
    static bool install();
    // Readable while news waits.
    static int wake_descriptor();
    static bool has_news();
    static SignalNews take();
};

}  // namespace tw
