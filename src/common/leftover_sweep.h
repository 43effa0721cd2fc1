#pragma once

// The sweep of what saves killed part way left beside a file: our temporaries and backups
// that no process holds and no unfinished change still needs. Private to the writer.

#include <QString>

namespace kx::writer {

// Removes what killed saves to this file left: our temporaries and backups that nobody holds
// locked and no unfinished change lists.
void sweepLeftovers(const QString& file);

} // namespace kx::writer
