#pragma once
#include <string>

// Steps 1 "A", 2 "B", 3 "C": two unconditional connections leave A for B and C.
std::string OpenChoiceChart();
