#include "SentrelMain.h"

int main(int argc, char* argv[])
{
    return SentrelMain(argc, argv).exec();
}
