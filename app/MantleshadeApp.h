#pragma once

namespace mantleshade {

// The program's entry: makes the application object and the one AppDelegate, tells the
// delegate when launching has finished, runs the event loop and answers SIGINT and SIGTERM with
// the same orderly termination as "Quit". The application declares no window of its own.
class MantleshadeApp {
  public:
    // Runs the application; answers the process exit code (0 after an orderly termination).
    static int main(int argc, char** argv);
};

}  // namespace mantleshade
