/* ampliscale.h - the enlargement engine behind libampliscale.so.

   Usage, one job at a time, all calls on the same thread:

     1. DllInit(window)            starts a new job: forgets the previous one and
                                   remembers where progress goes (may be NULL).
     2. DllSetSourceImage(w, h, p) the picture to enlarge.
     3. DllSetDestImage(W, H, q)   the target size and the buffer that receives it.
     4. DllFilter()                does the work, reporting progress through window.
     5. DllNextStage(), DllNextStage()
                                   finish; when the second one returns, the result
                                   is complete in q.

   Buffers belong to the caller, who MUST keep them allocated and leave them
   untouched until the last call of the job has returned.

   Source (read only): w * h pixels, w, h >= 1; w * 4 bytes a row, rows back to
   back, the BOTTOM row first; each pixel four bytes: blue, green, red,
   reserved. The engine reads no byte beyond the first w * h * 4.

   Destination: bufW * bufH pixels of four bytes, where
       bufW = max(W, 2 * w - 1)   and   bufH = max(H, 2 * h - 1),
   W, H >= 1. The engine may use all of it as working memory. When the job is
   complete, the first W * H * 4 bytes hold the result: W * 4 bytes a row, the
   TOP row first, each pixel in the source's byte order (blue, green, red,
   reserved). A target of exactly w * h gets the source's pixels unchanged.
   Any W, H >= 1 is accepted, reductions included.

   Progress: while DllFilter and DllNextStage run, the engine calls
   window->send(window, AMPLISCALE_WM_RESIZE_PROGRESS, stage, value) from the
   calling thread, every few milliseconds of work:
       stage = 2 ... 14, rising as the work advances (0 would keep the stage),
       value = 0 ... 255 within the stage.
   Stages are spread over the job's running time, so that a bar counting stages
   moves at an even pace; stage 15 is left to whatever the caller does with
   the result afterwards.
   A non-zero result of send means the job is abandoned: the engine then stops
   within a few milliseconds, and every later call of the job returns at once,
   leaving the destination's content unspecified.

   Working memory beyond the destination: at most one plane of W * H floats,
   a half-size copy of the source's luma (w * h bytes, while the engine checks
   how much sharpening the picture takes), the job's filter table (170 kB), a
   few rows per thread (among them the colour's window sums, about 0.5 kB per
   source column), and per thread a band of the refining network's features
   (for each 16 of the network's channels, kWidth in NetWeights.h: at most
   about 2 kB per source column, and 15 MB for sources up to 8192 pixels
   wide). The work is spread over the machine's cores; the result is the
   same, byte for byte, whatever the number of threads.

   The job's state belongs to the calling thread: one job at a time on a
   thread, and DllInit resets it; jobs on different threads run at once. */
#ifndef AMPLISCALE_H
#define AMPLISCALE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AMPLISCALE_WM_RESIZE_PROGRESS 1135u

#if defined(__GNUC__)
#define AMPLISCALE_API __attribute__((visibility("default")))
#else
#define AMPLISCALE_API
#endif

typedef struct AmpliscaleWindow AmpliscaleWindow;
struct AmpliscaleWindow {
  /* Sends a message to the window, synchronously; returns non-zero once the job is abandoned. */
  intptr_t (*send)(AmpliscaleWindow *window, unsigned message, uintptr_t wParam, intptr_t lParam);
  void *context; /* the host's own data */
};

/* Starts a new job; window may be NULL (no progress, no early stop). Returns 1. */
AMPLISCALE_API int DllInit(AmpliscaleWindow *window);
AMPLISCALE_API void DllSetSourceImage(int width, int height, void *pixels);
AMPLISCALE_API void DllSetDestImage(int width, int height, void *pixels);
AMPLISCALE_API void DllFilter(void);
AMPLISCALE_API void DllNextStage(void);

#ifdef __cplusplus
}
#endif

#endif /* AMPLISCALE_H */
