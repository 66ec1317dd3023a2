#include "remover/remover.h"

int main(int Argc, char** Argv) {
  kerv::TKerv Kerv;
  return Kerv.Run(Argc, Argv);
}
