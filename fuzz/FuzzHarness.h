#pragma once
// What every fuzz target shares: a GUI application without a display (pictures, fonts), quiet
// Qt diagnostics, a memory ceiling so that the readers' memory checks refuse what a fuzzing run
// cannot hold, and the input as bytes or as a file for readers that open paths.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

/// The most memory a fuzzed reader may plan to allocate; the runs give libFuzzer a larger
/// -rss_limit_mb, so an allocation that the checks should have refused shows up as a finding.
constexpr std::int64_t kFuzzMemoryCeiling = std::int64_t(512) << 20;

/// The input without a copy: reading past its end is caught by AddressSanitizer.
QByteArray FuzzBytes(const std::uint8_t* data, std::size_t size);

/// Writes the input to this process's own scratch file and returns its path (the same path for
/// every input of a run).
QString FuzzInputFile(const std::uint8_t* data, std::size_t size);

/// A small file in the scratch folder, written once per run, for inputs that name a second file
/// (a workspace's TIFF map).
QString FuzzScratchPath(const QString& name);

/// Runs the event loop's pending work (Qt trims its caches from timers).
void FuzzProcessEvents();
