#include "app/application.h"

int main(int argc, char *argv[])
{
    return run_korvel_control(argc, argv);
}
