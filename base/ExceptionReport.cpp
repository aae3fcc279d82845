// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ExceptionReport.h"

#include <cstdio>

namespace {

ExceptionReport& report()
{
    static ExceptionReport r;
    return r;
}

}  // namespace

ExceptionReport SetExceptionReport(ExceptionReport r)
{
    return std::exchange(report(), std::move(r));
}

void ReportException(const std::exception& e)
{
    if (report())
        report()(e);
    else
        std::fprintf(stderr, "%s\n", e.what());
}
