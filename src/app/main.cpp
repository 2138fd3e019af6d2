#include "app/application.h"

int main(int argc, char** argv) {
  return tol_app_main(argc, argv);
}
