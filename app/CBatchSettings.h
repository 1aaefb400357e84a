#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/CShard.h"

// What a run does with each file.
enum class EFileRun { Stamp, DryRun, List };

// What the command line says about a run as a whole rather than about the
// stamp: whether it goes on after a failing file, in how many workers, with
// which limits, where its report goes, and whether it writes at all.
struct CBatchSettings {
    bool keepGoing = false;            // --keep-going
    std::optional<int> jobs;           // --jobs; 0: one per core
    double timeoutSeconds = 0;         // --timeout, per file; 0: none
    int64_t memoryLimitMb = 0;         // --memory-limit, per worker; 0: none
    std::optional<std::string> report; // --report; "-": standard output
    bool dryRun = false;               // --dry-run
    bool list = false;                 // --list: the stamps each file carries
    bool skipExisting = false;         // --skip-existing: a list's outputs that are there are left alone
    bool nullSeparated = false;        // -0, --null: the list's names end with NUL bytes
    std::optional<CShard> shard;       // --shard: the share of the list this run stamps
    std::optional<std::string> writePlan; // --write-plan: the list's plan is written, nothing stamped
    std::optional<std::string> plan;      // --plan: each file's Bates range and pages taken from it
    std::string imageShownAs;          // the -j name, when the run reads a private copy of the image

    EFileRun fileRun() const { return list ? EFileRun::List : dryRun ? EFileRun::DryRun : EFileRun::Stamp; }
    // Files go to worker processes: asked for, or needed to enforce a limit.
    bool usesWorkers() const { return jobs.has_value() || timeoutSeconds > 0 || memoryLimitMb > 0; }
};
