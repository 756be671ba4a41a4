// SPDX-License-Identifier: GPL-3.0-or-later
#include "standardoutput.h"

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace standardoutput {

int finish(int status, bool outputIsTheProduct)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = flushed ? 0 : errno;
    if (flushed && !std::ferror(stdout))
        return status;
    // A write that failed earlier left no reason behind: on a pipe it can
    // only have been its reader going away.
    if (error == EPIPE || (error == 0 && platform::standardOutputIsPipe()))
        return status;
    if (error != 0)
        std::fprintf(stderr, "Não foi possível escrever a saída: %s. Confira o arquivo ou o disco para onde ela vai.\n",
                     std::strerror(error));
    else
        std::fprintf(stderr, "Não foi possível escrever a saída. Confira o arquivo ou o disco para onde ela vai.\n");
    return outputIsTheProduct && status == 0 ? 1 : status;
}

} // namespace standardoutput
