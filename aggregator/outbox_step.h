// The cycle's outbox step: whether the mail sender should be started for the outbox. The
// step itself is AggregatorWorker::SendOutbox; this is its decision, on its own so that it
// can be checked without starting anything.
#pragma once

#include <cstdint>
#include <string>

namespace outbox_step {

// True when the outbox below logsDir holds an entry due at now, or one whose record is
// damaged (the sender moves it to failed\ and says so), and no sender holds its lock.
bool SenderWanted(const std::string& logsDir, std::int64_t now);

}  // namespace outbox_step
