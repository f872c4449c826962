#pragma once
// The process start and end that do not need a window: the module start-up
// (application object, active-task cleaning), the first-run setup, the
// main window's stored bounds and the meaning of a command-line argument.
#include <string>

struct WindowBounds {
  int Left = 0, Top = 0, Width = 640, Height = 480;
};

// Reads "Settings\FormHarvix" with the start-up corrections: negative Left
// and Top become 0, a Width below 600 becomes 640, a Height below 400
// becomes 480, and a value that is not a decimal integer takes its default.
WindowBounds ReadWindowBounds();
void WriteWindowBounds(const WindowBounds& bounds);

enum class ArgumentKind { None, Url, TaskFile, ZipFile };
ArgumentKind ClassifyArgument(const std::string& argument);

// Only the holder of this lock runs tasks; a second front end (the GUI and
// harvix-cli side by side) leaves the tasks alone.
bool AcquireTaskRunLock(const std::string& tasksFolder);
bool HoldsTaskRunLock();
void ReleaseTaskRunLock();

// True when an interface other than loopback is up with an address.
bool MachineIsOnline();
// Sets the "Work Offline" flag from the network at start: offline when no
// interface but loopback is up. While offline no request leaves the machine.
void DetectWorkOffline();
bool WorkOffline();

// Creates HXApp and, when this process may run tasks, resets stale entries
// of the active-task list.
void StartModule();
void ShutdownModule();

// Copies the shipped resources into the program folder, imports FTypes.reg,
// creates the downloads folder and moves stray task files into "General".
// Runs only when the stored version differs or the skins folder is missing.
void FirstRunSetup();
