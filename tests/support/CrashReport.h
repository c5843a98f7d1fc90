#pragma once
// Makes a crash anywhere in a test program (a test thread, an emulator thread)
// end it with a failure code: left to Wine's debugger it could exit with 0.
void InstallCrashReport();
