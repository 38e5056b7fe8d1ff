#include "mapview/BrowserEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

// The engine needs its schemes before the application exists, and every
// test needs the application; both happen once here.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    velmora::BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
