// Every fixed text the helper replies with. Korean sentences are for people;
// the hyphenated English words are machine-readable codes.
#pragma once

#include <string_view>

namespace kelp::messages {

inline constexpr std::string_view unreadableRequest = "요청을 읽지 못했어요";
inline constexpr std::string_view unknownCommand = "모르는 명령이에요: ";
inline constexpr std::string_view appNotFound = "그 프로그램을 찾지 못했어요";
inline constexpr std::string_view noPosition = "위치를 알 수 없어요";
inline constexpr std::string_view notPressable = "이 항목은 누를 수 없어요";
inline constexpr std::string_view typeCannotActivate = "그 프로그램을 앞으로 부를 수 없어서 글자를 넣지 못했어요";
inline constexpr std::string_view textDidNotLand =
    "글자가 그 칸에 들어가지 않았어요 — 그 칸을 먼저 눌러 커서를 넣고 type_here 로 쳐 보세요";
inline constexpr std::string_view unknownAction = "모르는 동작이에요";
inline constexpr std::string_view windowPlacementRefused = "창 관리자가 이 창을 옮기거나 크기를 바꾸게 하지 않아요";
inline constexpr std::string_view windowDidNotMove = "창이 요청한 자리나 크기로 바뀌지 않았어요";
inline constexpr std::string_view badScrollAmount = "스크롤 양이 너무 크거나 숫자가 아니에요";
inline constexpr std::string_view badPoint = "x 와 y 를 숫자로 주세요";
inline constexpr std::string_view pointOffScreen = "그 좌표는 어느 화면에도 없어요";
inline constexpr std::string_view noSuchPicture = "마지막 screenshot 에 그 번호의 그림이 없어요";
inline constexpr std::string_view badPictureWidth = "maxWidth 는 1 에서 1568 사이의 정수여야 해요";
inline constexpr std::string_view badRegion = "region 에는 x, y, w, h 가 모두 숫자로 있어야 해요";
inline constexpr std::string_view regionOffScreen = "그 영역은 어느 화면에도 걸치지 않아요";
inline constexpr std::string_view noWindowToCapture = "찍을 창을 찾지 못했어요";
inline constexpr std::string_view badWaitCondition =
    "until 은 요소에는 present, absent, enabled, focused, value, 창에는 present, absent 중 하나여야 해요";
inline constexpr std::string_view waitValueNeedsText = "until 이 value 이면 찾을 text 를 주세요";
inline constexpr std::string_view clipboardUnavailable = "이 데스크톱에서는 클립보드를 쓸 수 없어요";
inline constexpr std::string_view clipboardNotTaken = "클립보드를 가져오지 못했어요";
// Beside a clipboard set by a helper that ends with the request.
inline constexpr std::string_view clipboardLivesWithProcess =
    "이 글은 이 프로세스가 도는 동안만 클립보드에 있어요. 계속 두려면 helper 를 켜 둔 채로 쓰세요";
inline constexpr std::string_view notANumber = "setvalue 의 text 는 숫자여야 해요";
inline constexpr std::string_view valueNotSettable = "이 항목의 값은 바꿀 수 없어요";
inline constexpr std::string_view valueDidNotTake = "값을 넣었지만 그 값으로 바뀌지 않았어요";
inline constexpr std::string_view selectionDidNotTake = "그 항목을 골랐지만 선택되지 않았어요";
// Beside an empty "tree" or "find" of an application that shows nothing.
// Beside a "tree" or "find" of an application that let calls time out.
inline constexpr std::string_view busyHint = "이 프로그램이 지금 바빠서 대답하지 않아요. 잠시 뒤에 다시 해 보세요";
// Beside an empty "tree" or "find" whose "window" names no window.
inline constexpr std::string_view noSuchWindowHint =
    "그 이름의 창이 없어요. windowtitles 로 창 제목을 확인하거나 \"front\" 로 앞에 있는 창을 보세요";
inline constexpr std::string_view noControlsHint =
    "이 프로그램은 조작할 수 있는 항목을 보여 주지 않아요. 프로그램을 닫고 activate 로 다시 실행하면 항목이 보여요";

// Written right after an application's name, which is why they begin with a space.
inline constexpr std::string_view keyAppNotFound = " 을(를) 찾지 못해서 단축키를 보내지 않았어요";
inline constexpr std::string_view keyCannotActivate = " 을(를) 앞으로 부를 수 없어서 단축키를 보내지 않았어요";
inline constexpr std::string_view typeAppNotFound = " 을(를) 찾지 못해서 글자를 넣지 못했어요";
inline constexpr std::string_view typeAppCannotActivate = " 을(를) 앞으로 부를 수 없어서 글자를 넣지 못했어요";

// Menu messages quote a title between 「 and 」.
inline constexpr std::string_view menuTitleOpen = "「";
inline constexpr std::string_view menuNotFound = "」가 없어요. 여기 있는 것: ";
inline constexpr std::string_view menuDisabled = "」는 지금 쓸 수 없어요(회색으로 꺼져 있어요)";
inline constexpr std::string_view noMenuBar = "이 프로그램에는 위쪽 메뉴가 없어요";
inline constexpr std::string_view menuNotPressed = "그 메뉴를 누를 수 없어요";
inline constexpr std::string_view itemNotFound = "」 항목이 없어요. 여기 있는 것: ";

inline constexpr std::string_view noAccessibility = "no-accessibility";
inline constexpr std::string_view noScreenRecording = "no-screen-recording";
inline constexpr std::string_view blockedBySafety = "blocked-by-safety";
inline constexpr std::string_view notRecording = "not-recording";

}  // namespace kelp::messages
