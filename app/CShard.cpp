#include "app/CShard.h"

#include "pdf/CPdfException.h"

namespace {

// No list is this long: larger values are typing errors.
constexpr size_t kMostShards = 1000000;

[[noreturn]] void refuse(const std::string& message)
{
    throw CPdfException(CPdfException::EKind::UsageError, "\n--shard " + message + "\n");
}

// `text` as a whole number from 0 to kMostShards; false when it is none.
bool number(const std::string& text, size_t& value)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoul(text);
    return value <= kMostShards;
}

// The variable `name` as a number; refused when it is set but no number.
bool variable(const CShard::CEnvironment& environment, const char* name, size_t& value)
{
    const char* text = environment(name);
    if (!text)
        return false;
    if (!number(text, value))
        refuse("auto: " + std::string(name) + " is no whole number: '" + text + "'");
    return true;
}

} // namespace

CShard CShard::parse(const std::string& value, const CEnvironment& environment)
{
    const size_t slash = value.find('/');
    const std::string first = value.substr(0, slash);
    size_t given = 0; // the count after the slash; 0 for "auto" alone
    if (slash != std::string::npos && (!number(value.substr(slash + 1), given) || given == 0))
        refuse("takes K/N with N from 1 to " + std::to_string(kMostShards) + ", or auto or auto/N: '" + value + "'");
    if (first != "auto") {
        size_t k = 0;
        if (slash == std::string::npos || !number(first, k) || k < 1 || k > given)
            refuse("takes K/N with 1 <= K <= N, or auto or auto/N: '" + value + "'");
        return CShard(k - 1, given);
    }
    size_t index = 0, count = given;
    if (variable(environment, "SLURM_ARRAY_TASK_ID", index)) {
        size_t step = 1, lowest = 0, tasks = 0;
        if (variable(environment, "SLURM_ARRAY_TASK_STEP", step) && step != 1)
            refuse("auto: the Slurm array's step (SLURM_ARRAY_TASK_STEP) is " + std::to_string(step) +
                   ": give the array as a range with step 1 (--array=0-3)");
        if (!variable(environment, "SLURM_ARRAY_TASK_MIN", lowest) || lowest > index)
            refuse("auto: SLURM_ARRAY_TASK_MIN is not set, or above SLURM_ARRAY_TASK_ID");
        index -= lowest;
        if (variable(environment, "SLURM_ARRAY_TASK_COUNT", tasks)) {
            if (given && given != tasks)
                refuse("auto/" + std::to_string(given) + ": the Slurm array has " + std::to_string(tasks) + " tasks");
            count = tasks;
        }
    } else if (!variable(environment, "JOB_COMPLETION_INDEX", index) &&
               !variable(environment, "AWS_BATCH_JOB_ARRAY_INDEX", index)) {
        refuse("auto: none of SLURM_ARRAY_TASK_ID (Slurm), JOB_COMPLETION_INDEX (Kubernetes) or "
               "AWS_BATCH_JOB_ARRAY_INDEX (AWS Batch) is set");
    }
    if (count == 0)
        refuse("auto: the scheduler gives no count of shards: give it as --shard auto/N");
    if (index >= count)
        refuse("auto: the index " + std::to_string(index) + " (from 0) is not below the count " +
               std::to_string(count));
    return CShard(index, count);
}
