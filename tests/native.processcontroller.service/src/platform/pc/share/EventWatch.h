// The event-log entries reported since a point in a test. Under Wine ReportEvent stores
// nothing: it only writes its strings to the standard error of the wineserver's services,
// which the test fixture keeps in a file. On Windows, the Application log.
#ifndef OSTARAPCSERVICE_TEST_EVENTWATCH_H
#define OSTARAPCSERVICE_TEST_EVENTWATCH_H

#include <string>
#include <vector>

class EventWatch
{
public:
    EventWatch();
    // The events reported under source since construction, each as its strings joined by
    // "\n" (under Wine, as Wine's debug output quotes them: L"text").
    std::vector<std::string> eventsOf(const std::string& source) const;

private:
    long long servicesLogStart;  // Wine: size of the services' standard error at construction
    unsigned long windowsStart;  // Windows: the next record number at construction
};

#endif
