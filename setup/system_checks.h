// The checks the setup program makes before it installs: the operating
// system, and the web service it installs under.
#pragma once

#include <string>
#include <string_view>

// The system the installation runs on: a Linux kernel of release 3.10 or
// later. That is the oldest kernel of the long-term distributions that ship
// both systemd and nginx, and it has everything the system and its service
// units rely on (flock, O_CLOEXEC, SCHED_IDLE, atomic rename).
bool IsSupportedSystem(std::string_view sysname, std::string_view release);
// The same for the running kernel (uname).
bool RunningOnSupportedSystem();

// nginx's configuration directory below the root ("/etc/nginx" for "/").
std::string NginxDirectory(const std::string& root);
// The web service is there when nginx's configuration directory exists.
bool WebServiceInstalled(const std::string& root);

// `path` (absolute) below the root.
std::string BelowRoot(const std::string& root, const std::string& path);
