// The core module's process-wide state: the launcher's observer, the launch
// parameters taken from the command line, and the launch report they feed.
#pragma once

#include <string>

class IQNObserverUI;

struct LaunchParameters {
    std::string cid;  // ANSI, as all four
    std::string ccid;
    std::string tgid;
    std::string pid;
};

// Written on the UI thread by QNCreateWebWnd before anything else starts.
LaunchParameters& Launch();
IQNObserverUI*& HostObserver();

// One launch report with these ids, the executable's file version and the
// statistics endpoint of "deploy.ini"; returns at once.
void SendLaunchReport(const std::string& cid, const std::string& ccid, const std::string& tgid,
                      const std::string& pid);
