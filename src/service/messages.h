// Every fixed text the helper replies with. Korean sentences are for people;
// the hyphenated English words are machine-readable codes.
#pragma once

#include <string_view>

namespace kelp::messages {

inline constexpr std::string_view unreadableRequest = "요청을 읽지 못했어요";
inline constexpr std::string_view unknownCommand = "모르는 명령이에요: ";
inline constexpr std::string_view appNotFound = "그 프로그램을 찾지 못했어요";
inline constexpr std::string_view noPosition = "위치를 알 수 없어요";

inline constexpr std::string_view noAccessibility = "no-accessibility";
inline constexpr std::string_view noScreenRecording = "no-screen-recording";
inline constexpr std::string_view blockedBySafety = "blocked-by-safety";
inline constexpr std::string_view notRecording = "not-recording";

}  // namespace kelp::messages
