// stop_budget.h - how long a run may take to end after a stop signal in the tests.
// Sanitized children also run their leak check and shadow-memory teardown on the way
// out, which a loaded machine stretches well past the half second a user notices; the
// plain build keeps the half second.
#pragma once

#if defined(LV_SANITIZED)
constexpr long long kStopBudgetMs = 3000;
#else
constexpr long long kStopBudgetMs = 500;
#endif
