// Everything the test programs share, in one include.
#pragma once

#include "capture.h"
#include "fake_tools.h"
#include "files.h"
#include "hermetic_runner.h"
#include "run_process.h"
#include "scratch_dir.h"
