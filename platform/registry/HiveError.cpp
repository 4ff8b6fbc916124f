#include "platform/registry/HiveError.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace {

std::mutex g_problemMutex;
std::set<std::string> g_reportedPaths;
std::string g_lastProblem;

} // namespace

void ReportHiveProblem(const std::string& path, const std::string& detail) {
    const std::lock_guard lock(g_problemMutex);
    if (!g_reportedPaths.insert(path).second) {
        return;
    }
    g_lastProblem = "The settings file " + path +
                    " cannot be used: it is damaged or not a Velkora registry file (" + detail +
                    "). It has been left unchanged; move it away to start with empty settings.";
    std::fprintf(stderr, "velkora: %s\n", g_lastProblem.c_str());
}

void ReportHiveFolderProblem(const std::string& path, const std::string& why) {
    const std::lock_guard lock(g_problemMutex);
    if (!g_reportedPaths.insert(path).second) {
        return;
    }
    g_lastProblem =
        (path.empty() ? std::string("The user's settings file") : "The settings file " + path) +
        " cannot be used: " + why +
        ", so another user could change the settings. It has been left unchanged; "
        "give the folder to this user or choose another place.";
    std::fprintf(stderr, "velkora: %s\n", g_lastProblem.c_str());
}

std::string LastHiveProblem() {
    const std::lock_guard lock(g_problemMutex);
    return g_lastProblem;
}

void ClearHiveProblems() {
    const std::lock_guard lock(g_problemMutex);
    g_reportedPaths.clear();
    g_lastProblem.clear();
}
