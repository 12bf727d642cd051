// Report dispatch: placeholder until the report writers exist.
#include "aggregator/aggregator_worker.h"

void AggregatorWorker::DispatchReports() {}
