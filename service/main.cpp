// Tallyvane's entry: the service shell around the one worker.
#include "aggregator/aggregator_worker.h"
#include "platform/service.h"
#include "service/service_module.h"

int main(int argc, char** argv) {
    platform::PrepareServiceProcess();
    ServiceModule module;
    platform::SystemClock clock;
    platform::StoppablePacer pacer;
    AggregatorWorker worker(clock, pacer,
                            {[&module](const std::string& text) { module.LogMessage(text); },
                             [&module] { module.RequestQuit(); }});
    return module.Main(platform::FullCommandLine(argc, argv), worker);
}
