// win_handles.h - the benchmark's names for the framework's handle owners
// (BrisqFramework/Common/BrisqHandle.h): UniqueHandle treats null as none
// (events, semaphores, mappings, processes, threads, ports), UniqueFile
// INVALID_HANDLE_VALUE (pipe ends), UniqueView unmaps a view.
#ifndef TRANSPORT_BENCH_WIN_HANDLES_H
#define TRANSPORT_BENCH_WIN_HANDLES_H

#include "BrisqFramework/Common/BrisqHandle.h"

namespace transport_bench {

using UniqueHandle = BrisqFramework::BrisqHandle;
using UniqueFile = BrisqFramework::BrisqFileHandle;
using UniqueView = BrisqFramework::BrisqMappedView;

}  // namespace transport_bench

#endif  // TRANSPORT_BENCH_WIN_HANDLES_H
