// exitcodes.h - the exit codes of this project's hosts. Scripts and tests
// read them, so a code keeps its meaning in every host that uses it.
#ifndef LORVEXKIT_EXITCODES_H
#define LORVEXKIT_EXITCODES_H

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoCamera = 2,
    kExitOutput = 3,
    kExitSettings = 4,
    kExitIncomplete = 5,
    kExitSettingsFolder = 6,
    kExitInterrupted = 130,
};

#endif
