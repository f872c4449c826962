#pragma once
// Task commands and run control: creating a task from a URL, starting the
// engine on a task, stopping and finishing runs. Main thread only; the
// windows are reached through the front end.
#include <memory>
#include <string>

class THXTask;

// The address check before a task is made with a profile: normalised in
// place; false (after an error message) when it cannot start a download.
bool CheckStartUrl(std::string& url);
// The short name of a task for a URL: "www.<name>." or the host with its
// first "." made "_", cut at the next "."; the host itself when that is empty.
std::string ShortTaskName(const std::string& url);

// Creates the task file of a new download and returns its path, or empty
// when the URL was refused or the editor cancelled. With a named profile
// (not empty, not "Custom") the task is scheduled to run now.
std::string NewTask(const std::string& url, const std::string& profileName, bool map, bool intranet);
// Makes the task current and starts the engine on it.
void RunTask(std::unique_ptr<THXTask> task);
// Stops the engine after any run and lets the schedule compute the next run.
void EndTaskRun(THXTask& task);
// Winds up a run that completed.
void FinishTask(THXTask& task);
// The user's stop: only for an active current task.
void StopCurrentTask();
// Makes the task of the file current without running it.
void ExploreTask(const std::string& path);
