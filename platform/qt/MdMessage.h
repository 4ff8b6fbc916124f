#pragma once

#include <cstdint>

// "UWM_MD_MESSAGE": the request that the minidriver and a second start of the program post to
// every running instance. On the desktop it is a broadcast signal on the session bus, so every
// instance of the logon session receives it, whoever sends it.
namespace mdmsg {

inline constexpr const char* kObjectPath = "/org/velkora/CertMgr";
inline constexpr const char* kInterface = "org.velkora.CertMgr";
inline constexpr const char* kMember = "UWM_MD_MESSAGE";

// wParam of the requests; any other value is ignored by the receiver.
inline constexpr std::uint32_t kShowBalloon = 0x2001; // lParam: catalogue id of the text
inline constexpr std::uint32_t kStartAnimation = 0x2002;
inline constexpr std::uint32_t kStopAnimation = 0x2003;
inline constexpr std::uint32_t kRestart = 0x2004;
inline constexpr std::uint32_t kExit = 0x2005;

} // namespace mdmsg

// Broadcasts one request on the session bus and returns once the bus has taken it, so the
// caller may exit right after. Needs no Qt objects. False when there is no session bus.
bool PostMdMessage(std::uint32_t wParam, std::int64_t lParam);
