#include <gtest/gtest.h>

#include <QApplication>

// GoogleTest entry point for tests that need widgets: one QApplication for the whole run.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
