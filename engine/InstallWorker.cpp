#include "engine/InstallWorker.h"

template class InstallWorker<FileSystem>;
