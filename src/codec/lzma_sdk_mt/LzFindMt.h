/* The match finder the SDK's LZMA encoder uses when it is built multi-threaded. The
   encoder includes this header by this name and embeds CMatchFinderMt by value; the
   functions are ours (codec/lzma_match_thread.cpp): they run the SDK's single-threaded
   match finder on a thread of its own, ahead of the encoder, so that the matches, and
   with them the encoded bytes, are the same as on one thread. */
#ifndef TX_CODEC_LZ_FIND_MT_H
#define TX_CODEC_LZ_FIND_MT_H

#include <lzma/LzFind.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  CMatchFinder *MatchFinder; /* the encoder's own finder; its settings are taken over */
  void *state;               /* ours, from Create to Destruct */
} CMatchFinderMt;

void MatchFinderMt_Construct(CMatchFinderMt *p);
void MatchFinderMt_Destruct(CMatchFinderMt *p, ISzAlloc *alloc);
/* SZ_ERROR_MEM; SZ_ERROR_THREAD, before anything was read, when no thread can be had;
   SZ_ERROR_PARAM for the encoder's in-memory input, which only runs on one thread (so
   callers set numThreads themselves rather than leave the SDK's default of two). */
SRes MatchFinderMt_Create(CMatchFinderMt *p, UInt32 historySize, UInt32 keepAddBufferBefore,
                          UInt32 matchMaxLen, UInt32 keepAddBufferAfter, ISzAlloc *alloc);
void MatchFinderMt_CreateVTable(CMatchFinderMt *p, IMatchFinder *vTable);
/* Stops the thread; the encoder calls it when it is done with the input, early or not. */
void MatchFinderMt_ReleaseStream(CMatchFinderMt *p);

#ifdef __cplusplus
}
#endif

#endif
