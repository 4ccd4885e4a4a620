// A command file that reaches into the plug-in.
#include "eval/eval.h"

using namespace dunsmere;
