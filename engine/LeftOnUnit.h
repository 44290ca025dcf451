#pragma once
// What stopping a running job now would leave on its unit: the question a
// front end asks before it stops the jobs (UnitRunner::leftOnUnit), answered
// from the job's own state.

enum class LeftOnUnit {
    Nothing, // not told to start its bootloader, or updated and out of it already
    Restarting, // told to start its bootloader ("$BOOTLOADM" sent), not captured yet
    InBootloader, // in its bootloader, captured by this job, not finished
};
