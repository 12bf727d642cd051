// Log retention: placeholder until it is built.
#include "aggregator/aggregator_worker.h"

void AggregatorWorker::PurgeOldLogs(int, int, int) {}
