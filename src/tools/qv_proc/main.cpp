#include "QvProcEngine.h"

int main(int argc, char** argv)
{
    QvProcEngine engine;
    return engine.run(argc, argv);
}
