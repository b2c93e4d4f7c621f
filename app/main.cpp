#include "app/MantleshadeApp.h"

int main(int argc, char** argv) {
    return mantleshade::MantleshadeApp::main(argc, argv);
}
