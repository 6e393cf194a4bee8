// Allocator settings for programs that run the engine repeatedly.
#pragma once

namespace varnix {

// Keeps freed heap memory inside the process for reuse, in one allocation arena for all threads.
//
// Every selection run allocates several document-sized bitmaps (the hard mask, the edge mask,
// the two width maps, the soft mask) and frees them at its end. By default the C library returns
// blocks of this size to the system when they are freed, so the next run touches fresh pages
// again; where page faults are costly (virtual machines) that is most of the run's time. After
// this call, freed blocks stay mapped and later runs reuse them. The price is that the process
// keeps its peak heap size.
//
// Process-wide; call once at start-up, before the first document is loaded (the command-line tool,
// the benchmarks and the plug-in's initialiser do). Does nothing where the C library offers no such
// settings.
void RetainFreedMemory();

}  // namespace varnix
