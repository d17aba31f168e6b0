#pragma once

// Result codes of the exporters.
namespace BackupResult {
constexpr int Success = 0;
constexpr int CannotOpenDatabase = -12000;
constexpr int InvalidDatabase = -12001;
constexpr int QueryFailed = -12002;
constexpr int CannotOpenOutput = -12004;
} // namespace BackupResult
