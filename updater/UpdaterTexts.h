#pragma once
// The texts Fernlift shows in its window (and prints in console mode).

namespace texts {
inline constexpr char kTitle[] = "Vellumo在线升级";
inline constexpr char kClose[] = "关闭";
inline constexpr char kRetry[] = "重试";
inline constexpr char kCloseCountdown[] = "%s(%ld)";
inline constexpr char kQuerying[] = "正在查询升级信息, 请稍候...";
inline constexpr char kQueryFailed[] = "无法获取升级信息, 请检查网络并稍候重试.";
inline constexpr char kNoUpdate[] = "暂无升级信息.";
inline constexpr char kBadAddress[] = "下载地址解析错误, 请检查网络并稍候重试.";
inline constexpr char kDownloading[] = "正在下载升级包 %ld%%...";
inline constexpr char kDownloadFailed[] = "升级包下载失败, 请检查网络并稍候重试.";
inline constexpr char kNoTempFolder[] = "无法创建临时目录, 请检查系统权限并稍候重试.";
inline constexpr char kIncomplete[] = "升级包不完整, 请检查网络并稍候重试.";
inline constexpr char kUnpackFailed[] = "解压升级包失败, 请检查网络并稍候重试.";
inline constexpr char kScriptError[] = "升级包配置错误, 请检查网络并稍候重试.";
inline constexpr char kPreCommands[] = "正在执行预处理操作...";
inline constexpr char kChecking[] = "正在检查升级文件...";
inline constexpr char kCopying[] = "正在升级文件...";
inline constexpr char kPostCommands[] = "正在执行后续处理...";
inline constexpr char kCleaning[] = "正在清理临时文件...";
inline constexpr char kDone[] = "升级完毕.";
inline constexpr char kNoElevation[] = "无法获得管理员权限, 请检查系统权限并稍候重试.";
inline constexpr char kRolledBack[] = "升级失败, 已恢复原有版本, 请稍候重试.";
} // namespace texts
