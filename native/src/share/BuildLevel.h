// The release text of the library, shown in the log banners and on first-failure reports.
#ifndef OSTARA_BUILDLEVEL_H
#define OSTARA_BUILDLEVEL_H

#include <string>

class BuildLevel
{
public:
    static std::string getText();

private:
    BuildLevel();
};

#endif
