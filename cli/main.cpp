#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::puts("delvora-find: the search engine is not built yet");
    return 2;
}
