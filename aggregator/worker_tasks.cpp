// The worker's statistic tasks and report writers: each forwards to its unit with the
// worker's log context and stores into its own slot.
#include "aggregator/aggregator_worker.h"
#include "reports/writers.h"
#include "stats/tasks.h"

void AggregatorWorker::BuildTrafficWeek(int weekday) {
    stats::BuildTrafficWeek(context_, weekday, trafficWeek);
}
void AggregatorWorker::BuildTrafficTwoWeeks() {
    stats::BuildTrafficTwoWeeks(context_, trafficTwoWeeks);
}
void AggregatorWorker::BuildTrafficMonth(int month, int year) {
    stats::BuildTrafficMonth(context_, month, year, trafficMonth);
}
void AggregatorWorker::BuildTrafficThreeMonths(int month, int year) {
    stats::BuildTrafficThreeMonths(context_, month, year, trafficThreeMonths);
}
void AggregatorWorker::BuildTrafficSixMonths(int month, int year) {
    stats::BuildTrafficSixMonths(context_, month, year, trafficSixMonths);
}
void AggregatorWorker::BuildTrafficYear(int year) {
    stats::BuildTrafficYear(context_, year, trafficYear);
}

void AggregatorWorker::BuildClientWeek(int weekday) {
    stats::BuildClientWeek(context_, weekday, clientWeek);
}
void AggregatorWorker::BuildClientTwoWeeks() {
    stats::BuildClientTwoWeeks(context_, clientTwoWeeks);
}
void AggregatorWorker::BuildClientMonth(int month, int year) {
    stats::BuildClientMonth(context_, month, year, clientMonth);
}
void AggregatorWorker::BuildClientThreeMonths(int month, int year) {
    stats::BuildClientThreeMonths(context_, month, year, clientThreeMonths);
}
void AggregatorWorker::BuildClientSixMonths(int month, int year) {
    stats::BuildClientSixMonths(context_, month, year, clientSixMonths);
}
void AggregatorWorker::BuildClientYear(int year) {
    stats::BuildClientYear(context_, year, clientYear);
}

void AggregatorWorker::CollectFilterWeek(int weekday) {
    stats::CollectFilterWeek(context_, weekday, filterWeek);
}
void AggregatorWorker::CollectFilterTwoWeeks() {
    stats::CollectFilterTwoWeeks(context_, filterTwoWeeks);
}
void AggregatorWorker::CollectFilterMonth(int month, int year) {
    stats::CollectFilterMonth(context_, month, year, filterMonth);
}
void AggregatorWorker::CollectFilterThreeMonths(int month, int year) {
    stats::CollectFilterThreeMonths(context_, month, year, filterThreeMonths);
}
void AggregatorWorker::CollectFilterSixMonths(int month, int year) {
    stats::CollectFilterSixMonths(context_, month, year, filterSixMonths);
}
void AggregatorWorker::CollectFilterYear(int year) {
    stats::CollectFilterYear(context_, year, filterYear);
}

void AggregatorWorker::WriteDailyFilterReport() {
    reports::WriteDailyFilterReport(context_, sendList);
}
void AggregatorWorker::WriteDailyTrafficReport() {
    reports::WriteDailyTrafficReport(context_, sendList);
}
void AggregatorWorker::WriteWeeklyFilterReport() {
    reports::WriteWeeklyFilterReport(context_, sendList);
}
void AggregatorWorker::WriteWeeklyTrafficReport() {
    reports::WriteWeeklyTrafficReport(context_, sendList);
}
void AggregatorWorker::WriteMonthlyTrafficReport() {
    reports::WriteMonthlyTrafficReport(context_, sendList);
}
void AggregatorWorker::WriteMonthlyFilterReport() {
    reports::WriteMonthlyFilterReport(context_, sendList);
}
