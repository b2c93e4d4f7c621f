#pragma once

namespace desktop {
class SingleInstance;
}

namespace mantleshade {

// The program's entry: makes the application object and the one AppDelegate, tells the
// delegate when launching has finished, runs the event loop and answers SIGINT and SIGTERM with
// the same orderly termination as "Quit". The application declares no window of its own.
class MantleshadeApp {
  public:
    // Runs the application; answers the process exit code (0 after an orderly termination).
    // `instance`, when given, is the held single-instance lock: later launches open Preferences.
    static int main(int argc, char** argv, desktop::SingleInstance* instance = nullptr);
};

}  // namespace mantleshade
