#pragma once
// Lines the batch writes in the log pane about files it could not take or clean. The texts are
// GBK like every text of the program; "%1" and "%2" stand for a file name and a reason, which
// may hold any character, so the lines are put together in UTF-16.

#include <initializer_list>
#include <string>

namespace pelloran {

inline constexpr char kMsgFolderOthersSkipped[] = "文件夹“%1”中有 %2 个非RM/RMVB/RA格式的文件，已跳过。";
inline constexpr char kMsgInputUnreadable[] = "处理失败：无法打开输入文件“%1”（%2）";
inline constexpr char kMsgOutputFolderUnwritable[] = "处理失败：无法在输出文件夹“%1”中写入文件（%2）";
inline constexpr char kMsgNoShortName[] =
    "处理失败：文件名“%1”含有系统代码页以外的字符，而所在磁盘没有启用8.3短文件名，RM清除器无法打开此文件。";
inline constexpr char kMsgOutputNotRenamed[] = "处理失败：无法把临时文件“%1”改名为“%2”（%3）";
inline constexpr char kMsgOutputIsInput[] = "处理失败：输出文件“%1”就是输入文件本身，没有处理，输入文件保持原样。";
inline constexpr char kMsgToolNotStarted[] = "处理失败：无法启动RM清除器（%1）";
inline constexpr char kMsgToolCrashed[] = "处理失败：RM清除器异常终止（退出代码 %1）";
inline constexpr char kMsgToolNoLog[] = "处理失败：RM清除器没有写完日志就退出了（退出代码 %1）";
inline constexpr char kMsgToolExitStatus[] = "处理失败：RM清除器报告处理失败（退出代码 %1）";
inline constexpr char kMsgToolErrorLine[] = "处理失败：RM清除器的日志中有错误信息（退出代码 %1）";
inline constexpr char kMsgToolNoOutput[] = "处理失败：RM清除器没有写出输出文件“%1”";
inline constexpr char kMsgToolNoResponse[] = "处理失败：RM清除器无响应（%1 秒内输出文件和日志都没有变化），已被终止";
// The reason of a failure: the system's error code and its wording.
inline constexpr char kMsgSystemError[] = "系统错误 %1：%2";

// The text with "%1", "%2" ... replaced by the arguments in turn, ended by CR LF.
std::wstring LogLine(const char* gbkTemplate, std::initializer_list<std::wstring> arguments);
// "系统错误 <code>：<the system's wording>".
std::wstring SystemErrorReason(unsigned long code);

}  // namespace pelloran
