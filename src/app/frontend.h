#pragma once
// Everything the core asks of a window goes through this interface. The Qt
// main window implements it, harvix-cli implements it for a terminal, and
// tests implement it to record calls. The base class answers every question
// with its safe default and shows nothing, so a front end overrides only
// what it can show.
#include <optional>
#include <string>

class THXTask;

enum class MsgButtons { Ok, YesNo, YesNoCancel, YesNoCancelAll };
enum class MsgAnswer { Ok, Yes, No, Cancel, All };

class Frontend {
 public:
  virtual ~Frontend() = default;
  // The program-wide status line; position -1 hides the progress.
  virtual void ShowStatus(const std::string& text, int position = -1) {}
  virtual void ShowWarning(const std::string& text) {}
  // A notice with an OK button.
  virtual void ShowMessage(const std::string& text) {}
  // An error box with an OK button.
  virtual void ShowError(const std::string& text) { ShowMessage(text); }
  // A question to the user; the default answer is the safe one given.
  virtual MsgAnswer AskUser(const std::string& text, MsgButtons buttons, MsgAnswer safeDefault) {
    return safeDefault;
  }
  // The run dialog for a task that ran before: a run method (0 Restart,
  // 1 Resume, 2 SmartUpdate, 3 SmartRecovery) or nothing for Cancel.
  virtual std::optional<int> ChooseRunMethod(const THXTask& task) { return 1; }
  // The current task was replaced (null: dropped); windows bound to it rebind.
  virtual void CurrentTaskChanged(THXTask* task) {}
  // The task's counters were reset or changed in bulk; views showing them redraw.
  virtual void RefreshTaskCounters(const THXTask& task) {}
  virtual void Beep() {}
  // The task editor on a new task, for a download without a named profile.
  // True when the user saved it (the editor saves the task itself).
  virtual bool EditNewTask(THXTask& task) { return false; }
  // The list of tasks changed (a task was created, started or ended).
  virtual void TasksChanged() {}
  // A run started or ended: the animation and the run button follow.
  virtual void RunStateChanged(bool running) {}
  // The zip manager is needed on screen (a zip-mode run started).
  virtual void ShowZipWindow() {}
};

// The front end of this process; a silent default until one is installed.
Frontend& UI();
void SetFrontend(Frontend* frontend);
