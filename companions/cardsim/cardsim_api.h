#pragma once
/* The simulated card's control functions.
 *
 * The simulated card is a driver-link library ("Portlane" for USB cards, "PortlanePCIE" for PCIe
 * cards) with a card model behind it. Besides the nine driver entry points it exports the
 * functions below, so that a test that loaded the library file (or linked the model directly)
 * can configure the card, read what the library sent and inject faults.
 *
 * The model is process-global: it keeps its configuration and state across QZ_CloseDriver and a
 * reopen, like a card that stays powered while its host comes and goes. cardsim_reset() returns it
 * to the defaults (and re-applies the file named by CARDSIM_CONFIG, when that variable is set).
 * A CARDSIM_CONFIG file that cannot be read, and each of its lines the card does not take (an
 * unknown key, a value out of range), is said on standard error, one line each with the file and
 * the line number; every other line is applied.
 *
 * To outlive the host process itself (a host killed in the middle of a task, then started again),
 * the card keeps its state in the file named by CARDSIM_STATE, when that variable is set: the
 * library loads it when it is loaded (when the file exists) and writes it back after every call
 * that changed it. It holds the configuration (card version and hardware words, unique id, USB
 * start-up, secondary card, sticky bits, fixed answers, ...), the run state, task id and sub-state,
 * off-line mode, alarms and the laser alarm field, inputs and outputs, the flags of command 82
 * (value and count), the phase, end code and sub code of the last run, a waiting reply and the
 * waiting bulk bytes (by their count: they read as 0xEE); the flash in a file of its own (below).
 * Not the card type, the frame log, the traces, the FIFO's contents or faults.
 * A run that was live comes back holding its job with an empty FIFO. The variable is read when the
 * library loads, at cardsim_reset and by cardsim_save_state / cardsim_load_state.
 *
 * Every function returns 0 on success unless stated otherwise. All are plain C with fixed-width
 * types and the standard calling convention on Win32 (undecorated names); a host resolves them by
 * name and casts to decltype(&cardsim_...).
 *
 * Defaults after a reset: one card (index 0), card version 85 (hardware word 0x215, feature word 0x3000),
 * start-up complete, inputs 0, no alarms, no secondary card (0xA2 answers 0), USB firmware bytes
 * {0x01, 0x00}, unique id 51 5A 4D 00 00 00 01, no faults, no latency, no buffer open, stream
 * consumed at once (mode 0), run start threshold 1.5 MiB, speed 100 %.
 *
 * The data stream (stream_engine.h has the card's rules in full): command 83 (1, 0) opens the
 * buffer; QZ_BufSend chunks go into a FIFO of 2^24 bytes (command 89: read and write pointers;
 * command 86: 512-byte units received in r1 bits 0-7, r0 bit 0 while a unit is incomplete); blocks
 * are checked by the layout of the card version (0 below 80, 1 for 80..95, 2 from 96) and decoded
 * into a trace of (time in us, word); the run starts on flag 0x40000, on flag 0x8 (flush) or when
 * the FIFO holds the start threshold; it ends on the end word 0x51100001 (end code 1), on flag 0x4
 * (end code 2, sub 0), when a flushed stream runs dry without an end word (end code 4), or on a
 * failed block check (alarm bit 4, end code 0, sub 3). Status r1 bits 8-11 carry the end code,
 * bits 13-15 the sub code; r0 bit 0 is set from the buffer open until the run ended. The page data
 * of a flash operation 83 (2, 0x2000000x) is the card's, away from the FIFO; the flash is described
 * below with cardsim_get_flash.
 * The executor runs the laser words too: pulse times, pulse start and stop and power words of
 * both lasers, and the output words; a test reads when each laser emitted (its pulses ran and, for
 * the configured laser type, the outputs that gate it were set), with which period and power
 * (cardsim_laser_segment_...), every power and output word run with its time, and each
 * laser's state now. It moves the galvanometer by the position words (16- or 21-bit codes, lit or
 * unlit, steps and jumps, Z) into a position trace in stream time (cardsim_position_..., and
 * cardsim_position_at: where the mirrors were and whether a laser was on at a given time), and it
 * runs the register writes and waits: a wait on the inputs holds the executor until the inputs
 * that cardsim_set_inputs sets match, or its time-out ends the run (cardsim_wait_...). Commands
 * 17, 18 and 19 answer what the card waits for. What the run drew, marked lines, jumps and dots,
 * comes out as an SVG picture in the field's millimetres (cardsim_write_svg; with the
 * configuration key svg at the end of each run).
 */
#include <stdint.h>

#if defined(_WIN32)
#define CARDSIM_CALL __stdcall
#if defined(CARDSIM_BUILDING)
#define CARDSIM_API __declspec(dllexport)
#else
#define CARDSIM_API
#endif
#else
#define CARDSIM_CALL
#define CARDSIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of frame-log entries. */
#define CARDSIM_KIND_COMMAND 1  /* a command frame (10, 12 or 16 bytes) */
#define CARDSIM_KIND_LINK 2     /* a 4-byte link word (PCIe) */
#define CARDSIM_KIND_CONTROL 3  /* a control request (QZ_SendComCmd) */
#define CARDSIM_KIND_REJECTED 4 /* a send the card did not take: wrong length or header for its type */

/* Bits of cardsim_frame.flags. */
#define CARDSIM_FRAME_HEADER 1 /* the frame came behind the 0x0300000C header */
#define CARDSIM_FRAME_LEGACY 2 /* the command word was a legacy number ((n - 256) << 8 | 0x55) */
#define CARDSIM_FRAME_OTHER_THREAD 4 /* sent by another thread than the one that reset or cleared the log */

/* One entry of the frame log. */
typedef struct cardsim_frame {
  uint64_t time_us;  /* microseconds since the model was created */
  uint32_t kind;     /* CARDSIM_KIND_... */
  uint32_t length;   /* bytes handed to the driver */
  uint32_t word;     /* command word as sent; the link word; the control request number */
  uint32_t command;  /* decoded command number; the top byte of a link word */
  uint32_t p1;       /* command p1; the link word; a control request's value */
  uint32_t p2;       /* command p2; a control request's index */
  uint32_t seq;      /* sequence nibble (word >> 12) of a numbered command word, else 0 */
  uint32_t flags;    /* CARDSIM_FRAME_... */
  uint8_t bytes[16]; /* the first (up to 16) bytes as handed over, the rest 0 */
} cardsim_frame;

/* A snapshot of the card (cardsim_get_state). */
typedef struct cardsim_state {
  uint64_t bulk_bytes;          /* bytes taken by QZ_BufSend since the reset */
  uint32_t card_type;           /* 0 USB, 1 PCIe */
  uint32_t open;                /* a driver handle is open */
  uint32_t lost;                /* lost: every driver call fails until the next QZ_OpenDriver */
  uint32_t open_count;          /* successful QZ_OpenDriver calls */
  uint32_t close_count;         /* QZ_CloseDriver calls */
  uint32_t last_index;          /* card index of the last QZ_OpenDriver */
  uint32_t reply_pending;       /* a reply waits for QZ_CmdRecv */
  uint32_t bulk_pending;        /* bytes waiting for QZ_BufRecv */
  uint32_t status_reads;        /* link status words read */
  uint32_t bulk_chunks;         /* chunks taken by QZ_BufSend since the reset */
  uint32_t last_chunk_length;   /* length of the last chunk */
  uint32_t not_ready_sends;     /* frames or chunks sent while their ready bit was held low */
  uint32_t status_r0;           /* what command 85 answers now */
  uint32_t status_r1;
  uint32_t run_state;           /* r0 & 7 of the status */
  uint32_t task_id;             /* the library task id the card holds (flag 0x8000) */
  uint32_t sub_state;
  uint32_t offline;             /* off-line mode (flag 0x20) */
  uint32_t paused;              /* paused by flag 0x1, resumed by 0x2 */
  uint32_t debug;               /* debug records (flag 0x10) */
  uint32_t inputs;
  uint32_t outputs;
  uint32_t da[2];               /* DA counts set by command 35 (p1 0 and 1) */
  uint32_t ad;
  uint32_t alarm_bits;          /* alarm bits of status r0 */
  uint32_t laser_alarm;         /* the laser alarm field: r0 bit 7 | r1 bits 27-31 << 1 */
  uint32_t operate_count;       /* command 83 received */
  uint32_t operate_op;          /* its last operation and argument */
  uint32_t operate_arg;
  uint32_t quality_period;      /* link word 0x04 */
  uint32_t lost_fail;           /* link word 0x05 */
  uint32_t lost_link;           /* link word 0x06 */
  uint32_t link_settings;       /* bit 0, 1, 2: link words 0x10, 0x11, 0x12 received */
  uint32_t handshake_state;     /* last handshake step taken in order (1, 4, 5, 2, then 0x10 done);
                                   0xFF after a step out of order; 0 before any */
  uint32_t link_level;          /* link status fields as the card reports them now */
  uint32_t linked;
  uint32_t second_link;
  uint32_t link_error;
} cardsim_state;

/* Consumption modes of the stream executor (cardsim_set_consume). */
#define CARDSIM_CONSUME_AT_ONCE 0 /* a running card consumes everything received as it arrives */
#define CARDSIM_CONSUME_PACED 1   /* at the stream's own pace: host real time x speed % */
#define CARDSIM_CONSUME_STALLED 2 /* nothing is consumed (a FIFO that stops draining) */

/* Phases of the card's run (cardsim_fifo.phase). */
#define CARDSIM_PHASE_IDLE 0     /* no buffer opened since the reset */
#define CARDSIM_PHASE_OPEN 1     /* buffer open, taking in data, not running yet */
#define CARDSIM_PHASE_RUNNING 2
#define CARDSIM_PHASE_FLUSHING 3 /* running out what was received (flag 0x8) */
#define CARDSIM_PHASE_ENDED 4    /* the run ended: end and sub code are final */

/* What started the run (cardsim_fifo.start_reason). */
#define CARDSIM_START_NONE 0
#define CARDSIM_START_FLAG 1      /* flag 0x40000 */
#define CARDSIM_START_FLUSH 2     /* flag 0x8 */
#define CARDSIM_START_THRESHOLD 3 /* the FIFO held the start threshold */

/* The first failed block check since the buffer open (cardsim_fifo.check_error). */
#define CARDSIM_CHECK_NONE 0
#define CARDSIM_CHECK_HEAD 1     /* layout 0: the first word is not 0x5110A55A */
#define CARDSIM_CHECK_SEQUENCE 2 /* layout 1: a sub-block head word is not 0x5110A55A | seq << 16 */
#define CARDSIM_CHECK_CRC 3      /* layout 2: a check word is not 0x5A000000 | CRC-16 */

/* The FIFO and the run (cardsim_get_fifo). Counts start over at each buffer open. */
typedef struct cardsim_fifo {
  uint64_t bytes_received;  /* taken into the FIFO since the buffer open */
  uint64_t bytes_consumed;
  uint64_t overflow_bytes;  /* chunks dropped for want of room */
  uint64_t ignored_bytes;   /* bulk bytes sent while no buffer was ever open (since the reset) */
  uint64_t clock_us;        /* the executor's stream time */
  uint64_t stream_us;       /* stream time at the end of what was decoded */
  uint32_t read_ptr;        /* command 89 r0 */
  uint32_t write_ptr;       /* command 89 r1 */
  uint32_t fill;            /* bytes in the FIFO */
  uint32_t units_received;  /* 512-byte units (command 86 answers the low byte) */
  uint32_t blocks_received; /* whole 2048-byte blocks */
  uint32_t blocks_rejected; /* units that failed their check (layout 0: the first word; layout 1: a
                               512-byte sub-block; layout 2: a 128-byte sub-block) */
  uint32_t check_error;     /* CARDSIM_CHECK_... */
  uint32_t layout;          /* 0, 1, 2 */
  uint32_t phase;           /* CARDSIM_PHASE_... */
  uint32_t start_reason;    /* CARDSIM_START_... */
  uint32_t end_code;        /* status r1 bits 8-11 */
  uint32_t sub_code;        /* status r1 bits 13-15 */
  uint32_t last_count;      /* operand of the last count marker 0x62 run */
  uint32_t count_markers;   /* count markers run */
  uint32_t words_run;       /* payload words consumed by the executor */
  uint32_t pending_words;   /* decoded, not yet consumed */
  uint32_t consume_mode;    /* CARDSIM_CONSUME_... */
  uint32_t start_threshold; /* bytes; 0: no start by the amount held */
} cardsim_fifo;

#define CARDSIM_TRACE_FULL 0
#define CARDSIM_TRACE_WORDS 1
#define CARDSIM_TRACE_EXECUTED 2

/* One trace entry: a payload word and the stream time at which the card runs it. */
typedef struct cardsim_trace_entry {
  uint64_t time_us;
  uint32_t word;
  uint32_t reserved; /* executed trace of a resident program: 1 + the slot it runs, 0 outside one */
} cardsim_trace_entry;

/* How a laser segment ended (cardsim_laser_segment.end). */
#define CARDSIM_SEGMENT_OPEN 0    /* the pulses still run; off_us is the executor's clock now */
#define CARDSIM_SEGMENT_STOPPED 1 /* the pulse stop word */
#define CARDSIM_SEGMENT_TIMING 2  /* a new pulse high or low time while the pulses ran: the next
                                     segment goes on from off_us with the new period */
#define CARDSIM_SEGMENT_RUN_END 3 /* the run ended (end word, stop flag, data break, failed check) */
#define CARDSIM_SEGMENT_GATED 4   /* an output that gates the laser's emission fell (configuration key
                                     laser_type; laser_record.h has each type's outputs) */

/* What one laser's pulse generator and power channel hold now (cardsim_laser_state). Laser 0: timing
   words 0x11-0x14, pulse start and stop 0x16000001 / 0x16000000, power channel 0 (0x2900xxxx);
   laser 1: 0x18-0x1B, 0x1C000001 / 0x1C000000, channel 2 (0x2902xxxx). Times and ticks as written
   (the card takes a tick count below 4 as it comes); everything reads 0 until set since the
   buffer open. */
typedef struct cardsim_laser {
  uint64_t on_since_us;     /* while the pulses run: when they started */
  uint64_t power_time_us;   /* when the last power word of its channel ran */
  double period_us;         /* (pulse_high_ticks + pulse_low_ticks) / 48 */
  uint32_t pulse_running;   /* 1 between pulse start and pulse stop (or the end of the run) */
  uint32_t pulse_high_ticks; /* 48 MHz ticks */
  uint32_t pulse_low_ticks;
  uint32_t idle_high_ticks;
  uint32_t idle_low_ticks;
  uint32_t power_channel;   /* 0 or 2 */
  uint32_t power_da;        /* DA value of the last power word of its channel */
  uint32_t power_words;     /* power words of its channel run since the buffer open */
  uint32_t segment_count;   /* what cardsim_laser_segment_count answers */
  uint32_t emitting;        /* 1 while it emits: its pulses run and the outputs that gate it for the
                               configured laser type are set (laser_record.h) */
} cardsim_laser;

/* One interval [on_us, off_us) of stream time during which a laser emitted with one period: its
   pulses ran and, for the configured laser type (key laser_type), the outputs that gate it were set
   (with laser type 0, the default, the pulses alone).
   Words at the on time itself count as the start: a pulse time or a power word that runs at
   on_us after the start word sets the segment's ticks or da_on. */
typedef struct cardsim_laser_segment {
  uint64_t on_us;
  uint64_t off_us;
  double period_us;      /* (high_ticks + low_ticks) / 48 */
  uint32_t high_ticks;
  uint32_t low_ticks;
  uint32_t da_on;        /* DA value of the laser's power channel in force at on_us */
  uint32_t da_off;       /* in force when it ended (or now, while open) */
  uint32_t power_words;  /* power words of its channel run after on_us while it was open */
  uint32_t end;          /* CARDSIM_SEGMENT_... */
} cardsim_laser_segment;

/* A power word run: 0x29000000 | channel << 16 | DA value (16 bits). Every channel is recorded;
   channels 0 and 2 are the power of laser 0 and laser 1, others belong to no laser. */
typedef struct cardsim_power_change {
  uint64_t time_us;
  uint32_t channel;
  uint32_t da;
} cardsim_power_change;

/* An output word run (0x20-0x22; the enable, PA, Q-kill and strobe outputs come this way). */
typedef struct cardsim_output_change {
  uint64_t time_us;
  uint32_t word;
  uint32_t mask;     /* the outputs it selects (bit n = output n) */
  uint32_t values;   /* their new values */
  uint32_t outputs;  /* all 32 outputs after it */
} cardsim_output_change;

/* ---- galvanometer, waits and register writes: types (the functions are further down) */

/* Flags of a position entry (cardsim_position.flags): the axes the words of that time set and
   the OR of their forms. Lit is the form of a job that fires the laser (16-bit 0x0100, 0x0101,
   0x0102, 0x0108, 0x0109; 21-bit words when the run's correction word had bit 0 clear); whether the
   laser was on is the lasers' record (cardsim_position_at answers both). */
#define CARDSIM_POS_X 0x1
#define CARDSIM_POS_Y 0x2
#define CARDSIM_POS_Z 0x4
#define CARDSIM_POS_LIT 0x8
#define CARDSIM_POS_JUMP 0x10  /* a direct jump word (0x0108, 0x0109, 0x010C, 0x010D; 21-bit 0x0120, 0x0160) */
#define CARDSIM_POS_21BIT 0x20 /* 21-bit codes */

/* The galvanometer position after the position words of one stream time. */
typedef struct cardsim_position {
  uint64_t time_us;
  uint32_t x, y, z;  /* codes of the three axes after these words (16- or 21-bit, as written) */
  uint32_t flags;    /* CARDSIM_POS_... */
  uint32_t word;     /* the last position word of this time */
  uint32_t words;    /* position words run at this time */
} cardsim_position;

/* The galvanometer now (cardsim_galvo_state). */
typedef struct cardsim_galvo {
  uint64_t last_time_us;   /* time of the last position word run */
  uint32_t x, y, z;        /* codes now (0 at the buffer open) */
  uint32_t form;           /* 16 or 21; 0 until the run's first galvanometer or correction word */
  uint32_t form_word;      /* the word that fixed the form */
  uint32_t flags;          /* of the last entry */
  uint32_t words;          /* position words run since the buffer open */
  uint32_t position_count; /* entries of the trace, counted on past the ones kept */
  uint32_t dropped;        /* entries not kept */
} cardsim_galvo;

/* Where the mirrors were and whether the lasers were on at one stream time (cardsim_position_at). */
typedef struct cardsim_mirror {
  uint64_t time_us;   /* the time asked */
  uint64_t moved_us;  /* time of the entry in force; 0 before the first */
  uint32_t x, y, z;   /* codes of the entry in force; 0 before the first */
  uint32_t flags;     /* its CARDSIM_POS_... */
  uint32_t index;     /* its index in the trace; 0xFFFFFFFF before the first */
  uint32_t laser_on;  /* bit 0: laser 0 emitted at time_us ([on_us, off_us) of a segment), bit 1: laser 1 */
} cardsim_mirror;

/* How a wait ended (cardsim_wait.end). */
#define CARDSIM_WAIT_OPEN 0      /* the card waits now; held_us so far */
#define CARDSIM_WAIT_MET 1       /* the inputs matched (held_us 0: at once) */
#define CARDSIM_WAIT_PASSED 2    /* a condition the card does not model (not inputs): passes at once */
#define CARDSIM_WAIT_TIMED_OUT 3 /* the time-out passed: the run ended (alarm bit 5, end code 0, sub code 5) */
#define CARDSIM_WAIT_RUN_END 4   /* the run ended while the card waited (stop flag, failed check) */
#define CARDSIM_WAIT_TESTED 5    /* an input test (zero time-out) that failed: latched, no alarm */
#define CARDSIM_WAIT_LEFT 6      /* a resident program's trigger left it for its label */
#define CARDSIM_NO_TIMEOUT 0xFFFFFFFFu

/* One wait: a marker word 0x51600000 | (source * 2 | timed) << 15 | reason. Times in card µs. */
typedef struct cardsim_wait {
  uint64_t time_us;    /* stream time of the marker: the executor's clock held here */
  uint64_t held_us;    /* how long the clock held (so far, while open) */
  uint32_t timeout_us; /* CARDSIM_NO_TIMEOUT for an untimed wait; 0: checked once */
  uint32_t source;     /* 1 inputs; others not modelled */
  uint32_t reason;     /* the marker's low 15 bits: 0x20 a register wait (mask and values) */
  uint32_t mask;       /* register A: the inputs that count */
  uint32_t values;     /* register B: their values to wait for */
  uint32_t setup;      /* the set-up word 0x58000100 | ... before it; 0 none */
  uint32_t marker;
  uint32_t inputs;     /* the inputs when it ended (while open: at the last check) */
  uint32_t end;        /* CARDSIM_WAIT_... */
} cardsim_wait;

/* Kinds of register writes (cardsim_reg_write.kind). */
#define CARDSIM_REG_PORT 1    /* 0x58000000 | port: A and B to the port (the reset sequence writes 0x1E to port 1) */
#define CARDSIM_REG_16 2      /* 0x51700000: closes a 16-bit write; port is the lane selected then */
#define CARDSIM_REG_IO_COND 3 /* 0x51B00001 | flag << 1: the condition of the last port write; port is that port */

typedef struct cardsim_reg_write {
  uint64_t time_us;
  uint32_t word;
  uint32_t kind;  /* CARDSIM_REG_... */
  uint32_t port;
  uint32_t a, b;  /* registers A and B (lanes 0-3) when it ran */
  uint32_t flag;  /* CARDSIM_REG_IO_COND: the label number */
} cardsim_reg_write;

/* ---- lifecycle and configuration */

/* Back to the defaults: configuration, card state, faults, logs and counters; the driver closed.
   The card type stays the one of the library file. Then the file named by CARDSIM_CONFIG. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_reset(void);
/* Applies a configuration file ("key = value" lines; '#' or ';' begin a comment; [sections] are
   ignored; keys without regard to case). 0: applied; 0xFFFFFFFF: cannot be read; otherwise the
   number of the first line not understood (every other line is applied; nothing is said on
   standard error: the caller has the answer). Keys: card_type
   (0/usb, 1/pcie), card_version, hw_word, hw_features, hw_info2_0, hw_info2_1, unique_id (14 hex
   digits), usb_firmware ("b0,b1"), usb_startup (0 ready, 1 incomplete, 2 never ready),
   inputs, ad, alarms, laser_alarm, secondary (0xA2 answer), secondary_mode (0 links, 1 absent,
   2 never links), link_level, latency_us, speed (execution speed in percent), consume (consumption
   mode 0, 1, 2), start_bytes (run start threshold), present (number of cards); laser_type (the
   LASER_TYPE of the library's configuration, 0..7, default 0: which outputs gate the lasers'
   emission besides their pulses, laser_record.h; the records of emission, the positions' laser_on
   and the picture follow it); svg (a file the
   card writes the picture of each run to when the run ends, as cardsim_write_svg; a relative path
   is taken from the configuration file's folder; empty: none), field_mm (the field size for 16-bit codes: one
   size, or "x, y"; default 100), half_range_mm (R of 21-bit codes, default 10); sizes are reals
   with a dot and above 0. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_load_config(const char* path);
/* Writes the state file named by CARDSIM_STATE now; 1 when the variable is not set or the file
   cannot be written. (cardsim_reset with the variable set rewrites the file with the state after
   the reset.) */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_save_state(void);
/* Reads the state file named by CARDSIM_STATE, as the library does when it is loaded. 0 applied;
   0xFFFFFFFF the variable is not set or the file cannot be read; otherwise the number of the first
   line not understood (and nothing is applied). The FIFO starts empty. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_load_state(void);
/* Fills *out with a snapshot of the card; 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_state(cardsim_state* out);
/* 0 USB (10-byte frames, 0xDF and 0xDC), 1 PCIe (12- and 16-byte frames, link words, 0xA2). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_card_type(uint32_t type);
/* Card version v: bits 0-4 and 8-10 of the hardware word become (v & 0x1F) and (v & 0xE0) << 3. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_card_version(uint32_t version);
/* Command 81 answers (word, features); command 84 answers (info0, info1). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_hw_words(uint32_t word, uint32_t features, uint32_t info0,
                                                       uint32_t info1);
/* The 7-byte unique id of command 90 (r1 = bytes 0-3, r0 = bytes 4-6); 1 when id is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_unique_id(const uint8_t* id);
/* The two bytes of control request 0xDC. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_usb_firmware(uint32_t b0, uint32_t b1);
/* Control request 0xDF: mode 0 start-up complete and ready after `not_ready_polls` requests that
   show byte 1 without 0x51; mode 1 start-up incomplete (byte 0 is not '['); mode 2 never ready. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_usb_startup(uint32_t mode, uint32_t not_ready_polls);
/* The number of cards present (default 1): QZ_GetCardsNo counts them, the first at index 0, and
   QZ_OpenDriver opens indexes below it only. 0: no card (every QZ_OpenDriver fails). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_present(uint32_t cards);
/* Execution speed of the stream executor in percent, for consumption mode 1 (100 by default). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_speed(uint32_t percent);

/* ---- inputs, outputs and status */

/* The inputs (command 33). The executor is brought up to date first, so a wait that they end
   ends now, and one whose time-out passed before ended before. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_inputs(uint32_t bits);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_ad(uint32_t count);
/* Run state (r0 bits 0-2), card task id (r1 bits 21-25), sub-state (r1 bits 16-20). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_run_state(uint32_t run_state, uint32_t task_id, uint32_t sub_state);
/* Alarm bits of status r0 (bits 3-31 but 7) and the laser alarm field (r0 bit 7 = field & 1,
   r1 bits 27-31 = field >> 1; 17 is a laser alarm). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_alarms(uint32_t r0_bits, uint32_t laser_field);
/* Alarm bits that clearing (flag 0x400 with value 1) leaves set (default bits 14-20 and 30), and
   run-state bits that stop, flush, abort and finish requests and the end of a run do not clear
   (default none). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_sticky(uint32_t alarm_bits, uint32_t run_bits);
/* Bits 0-15 of status r1 (flags of the card; the flash page status is ORed into bits 0-7). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_status_flags(uint32_t r1_low);
/* A fixed answer (r0, r1) for command (command, p1, p2), after the command's own effects; the way
   to set the galvanometer status (3) and any other query, and to override the wait detail, state
   and reason (17, 18, 19) that the card answers from its last wait on the inputs. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_answer(uint32_t command, uint32_t p1, uint32_t p2, uint32_t r0,
                                                     uint32_t r1);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_clear_answers(void);
/* The last value of the flag selected by the one-bit mask and how often it was sent; 1 when the
   mask is not one bit. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_flag(uint32_t mask, uint32_t* value, uint32_t* count);

/* ---- the secondary card (PCIe) */

/* answer: the byte of control request 0xA2. mode 0: the handshake links it; 1: absent (link level
   stays 0); 2: present but never links (bLinked and bSecondLink never rise). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_secondary(uint32_t answer, uint32_t mode);
/* Link level reported once the quality period arrived (default 3), link error reported after the
   last handshake step (default 0), link flags (status bits 5 and 6, default 0). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_link_fields(uint32_t level, uint32_t error, uint32_t flags);
/* What link word 0x07000000 latches into status bits 19-16 (default 0xC; bit 0 is added while
   the secondary card is not linked) and what 0x07000005 latches into bits 25-16. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_link_latches(uint32_t reasons, uint32_t counter);

/* ---- the frame log (command frames, link words, control requests, rejected sends) */

/* Entries recorded since the last clear (the log keeps the newest 262144). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_log_count(void);
/* Entry `index` (0 = the first since the clear); 1 when it is not held or out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_log_get(uint32_t index, cardsim_frame* out);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_log_clear(void);

/* ---- faults (n counts from the call that arms it, 1 = the next one; 0 disarms) */

/* The n-th QZ_CmdSend fails and the card is lost until the next QZ_OpenDriver. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_lose_at(uint32_t n);
/* The n-th QZ_BufSend fails and the card is lost until the next QZ_OpenDriver. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_lose_at_chunk(uint32_t n);
/* The reply to the n-th command frame echoes the word with another sequence nibble (word ^ 0x1000). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_wrong_echo(uint32_t n);
/* The n-th control request (QZ_SendComCmd) fails; the card stays connected. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_control_fail(uint32_t n);
/* The n-th link status read shows a bad toggle nibble: mode 1 the previous nibble again, mode 2
   nibble 0. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_toggle(uint32_t n, uint32_t mode);
/* Link status bits held low for good (bit 2 command ready, bit 3 bulk ready); 0 releases. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_hold_low(uint32_t mask);
/* A reply (word, r0, r1) waits on the command channel, as a host that died between sending and
   receiving leaves it; it stays across close and open until received or replaced by a frame. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_inject_stale_reply(uint32_t word, uint32_t r0, uint32_t r1);
/* `bytes` bytes (0xEE each) wait on the bulk channel for QZ_BufRecv. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_inject_stale_bulk(uint32_t bytes);
/* Each command reply and each bulk chunk, sent or read back, takes this long (0: none); link
   status reads and control requests take none. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_latency_us(uint32_t us);

/* ---- the data stream */

/* CARDSIM_CONSUME_...; 1 for another value. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_consume(uint32_t mode);
/* The run starts by itself once the FIFO holds at least `bytes` (0: never by the amount). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_start_threshold(uint32_t bytes);
/* Fills *out; 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_fifo(cardsim_fifo* out);
/* Runs the executor on by `us` of stream time, in any mode (mode 2 runs only this way); 1 when
   the run is not running or is paused. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_step_us(uint32_t us);
/* Entries of the trace since the buffer open or the last clear: words_only 0 every payload word
   (NOPs and time advances too), 1 without 0x50000000 and the 0x57 words, 2 the execution trace
   (the words as run, at card time: loops repeated, jumps taken, waits held; no NOPs or 0x57). The count goes on past
   the first 2097152 entries, which alone are kept. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_trace_count(uint32_t words_only);
/* Entry `index` of that trace; 1 when it is not held or out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_trace_get(uint32_t words_only, uint32_t index, cardsim_trace_entry* out);
/* Empties both traces (decoding goes on). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_trace_clear(void);

/* ---- the lasers (what the executor ran; every record starts over at the buffer open) */

/* The state of laser 0 or 1 now (the executor brought up to date first); 1 for another laser or
   a null out. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_laser_state(uint32_t laser, cardsim_laser* out);
/* Segments of the laser since the buffer open, the open one included; 0 for another laser. The
   count goes on past the first 262144, which alone are kept. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_laser_segment_count(uint32_t laser);
/* Segment `index` of the laser in the order they began; 1 when it is not held or out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_laser_segment_get(uint32_t laser, uint32_t index,
                                                            cardsim_laser_segment* out);
/* Power words run since the buffer open, every channel, in order (the first 262144 kept). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_power_change_count(void);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_power_change_get(uint32_t index, cardsim_power_change* out);
/* Output words run since the buffer open, in order (the first 262144 kept). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_output_change_count(void);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_output_change_get(uint32_t index, cardsim_output_change* out);

/* ---- the flash
 *
 * Two chips: the serial flash (8 MiB, byte addresses, 64 KiB sectors) and the NAND (2048 blocks of
 * 64 pages of 2048 bytes; a NAND byte address below is page x 2048 + offset). Both are blank (0xFF)
 * after a reset and keep what is written across close and reopen; with CARDSIM_STATE they also
 * survive the process (in the file named by CARDSIM_STATE plus ".flash": the pages that hold data,
 * the bad blocks and the id page).
 *
 * The card's side, command 83 operation 2 with a flash control word (cardlink/card_wire.h):
 * - 0x20000000 / 0x20000001: the next 2048 bulk bytes fill the page buffer for the NAND / the
 *   serial flash; the card shows run state 2, sub-state 2 until they arrived (flag 0x20000 gives
 *   the transfer up);
 * - 0x1000_0000 | page: erase the NAND block holding the page; 0x3000_0000 | page: program the page
 *   from the buffer (bits only fall: a page not erased keeps the AND of both); 0x4000_0000 | page:
 *   read the page into the read buffer; 0x60000000: the NAND id page into the read buffer;
 * - 0xE000_0000 | address << 4 | op: serial flash, op 0 program 2048 bytes at the address from the
 *   buffer (AND), 1 read 2048 bytes at the address into the read buffer, 2 erase the 64 KiB sector
 *   holding the address;
 * - 0x50000000 / 0x50000001: the read buffer goes out on the bulk channel (2048 bytes for
 *   QZ_BufRecv, link status bit 0 while they wait) and no reply comes back;
 * - a program needs a buffer filled for its chip since the last program, a bulk read a read buffer
 *   of its chip; a word outside this list, or one out of order, fails (page status 1) and counts as
 *   a protocol error.
 * Each operation leaves its page status in status r1 bits 0-7: 0 done, 1 erase or program failed
 * (a bad block, an address beyond the chip, a fault), 0xAA the page could not be read (the read
 * buffer then holds the page inverted).
 *
 * Areas: flag 0x10000 with value v marks the areas of v's bits 0-6 out of effect (status r0 bit
 * 14 + area). Command 83 operation 4 commits: 1 area 1; 0x10000002 areas 2 and 3; 0x20000004
 * area 4; 0x30000008 areas 5 and 6; 0xF00000FF all seven; 0x60000040 (an offline slot) none. A
 * commit takes its areas into effect (their bits clear) unless a commit fault keeps them out.
 * With cardsim_set_flash_busy(n) every operation and commit keeps run state 2 (operations) or 4
 * (commits) for the next n status commands, with the sub-state of the step (erase 1, data 2,
 * program 3, read 4, bulk read 5, serial flash 14; commits: head 0, box tables 1, parameters 2,
 * second block 3, everything 5). */

#define CARDSIM_FLASH_NAND 0
#define CARDSIM_FLASH_SPI 1

/* Flash faults (cardsim_flash_fault). */
#define CARDSIM_FLASH_FAULT_ERASE 1   /* the erase of the block / sector holding `where` fails */
#define CARDSIM_FLASH_FAULT_PROGRAM 2 /* the program of the page at `where` fails; the page keeps its content */
#define CARDSIM_FLASH_FAULT_READ 3    /* the read of the page at `where` fails (page status 0xAA) */
#define CARDSIM_FLASH_FAULT_CORRUPT 4 /* the read of the page at `where` comes back with bit 0 of its byte 0
                                         flipped and a clean page status */
#define CARDSIM_FLASH_ANYWHERE 0xFFFFFFFFu /* `where` that matches every page */

/* The flash side of the card (cardsim_get_flash). Counts start at the reset. */
typedef struct cardsim_flash {
  uint32_t page_status;     /* status r1 bits 0-7 now */
  uint32_t areas_out;       /* bit n: area n out of effect (status r0 bit 14 + n) */
  uint32_t notices;         /* flag 0x10000 with a nonzero value */
  uint32_t commits;         /* command 83 operation 4 */
  uint32_t last_commit;     /* its argument */
  uint32_t erases[2];       /* erase words taken, [CARDSIM_FLASH_NAND], [CARDSIM_FLASH_SPI] */
  uint32_t programs[2];
  uint32_t reads[2];        /* read words (into the read buffer) */
  uint32_t bulk_reads;      /* pages sent on the bulk channel */
  uint32_t data_phases;     /* page buffers filled */
  uint32_t data_due;        /* bulk bytes a data phase still waits for */
  uint32_t protocol_errors; /* words the card could not take in its state */
  uint32_t last_word;       /* the last flash control word */
  uint32_t pages_held[2];   /* 2048-byte pages that are not blank, NAND and serial flash */
  uint32_t bad_blocks;      /* NAND blocks that cannot be erased or programmed */
} cardsim_flash;

/* Fills *out; 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_flash(cardsim_flash* out);
/* Copies `length` bytes of a chip from `address` into out (peek); 1 beyond the chip, a null out or
   another chip. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_flash_read(uint32_t chip, uint32_t address, uint8_t* out, uint32_t length);
/* Replaces `length` bytes of a chip from `address` (poke: no erase needed, no AND); 1 as above. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_flash_write(uint32_t chip, uint32_t address, const uint8_t* data,
                                                      uint32_t length);
/* A NAND block that can no longer be erased or programmed (bad 1) or a good one again (0); 1 for a
   block beyond 2047. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_nand_set_bad(uint32_t block, uint32_t bad);
/* The first `length` bytes (at most 2048) of the NAND id page, the rest 0; 1 for a null id or a
   longer length. Default: 51 EC DA 10 95 44, the id the library's NAND check accepts. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_nand_set_id(const uint8_t* id, uint32_t length);
/* Arms a flash fault of kind CARDSIM_FLASH_FAULT_... on a chip at `where` (a NAND page or a serial
   flash address) for the next `times` operations that meet it; times 0 disarms the faults of that
   kind, chip and place. Faults add up. 1 for an unknown chip or kind. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_flash_fault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t times);
/* The next `times` commits that cover any area of `areas` (bit n: area n) leave those areas out of
   effect; times 0 disarms. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_flash_commit_fail(uint32_t areas, uint32_t times);
/* Status commands that see each flash operation and commit still running (default 0: done at once). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_flash_busy(uint32_t polls);
/* The time each flash operation and commit runs at least, in µs of the host's clock, besides the
   status commands of cardsim_set_flash_busy (default 0: no time). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_flash_busy_us(uint32_t us);

/* ---- offline files
 *
 * The offline-file head as the card reads it: a 2048-byte page whose byte 2047 is 0xA5 holds at
 * byte 1488 the head (u16 version, u8 PID byte, u32 timing, 16 entries of 33 bytes: u8 state,
 * 20 name bytes, u32 mark, u32, u16 id, u16), little-endian.
 *
 * Offline documents 0..15 lie in the NAND from page d << 12 on. Command 83 (1, 0x100 | d) or the
 * start input runs one: the card reads its pages in order, skipping the blocks that the bad-block
 * table on the serial flash (0x100000) marks bad, and runs them as a received stream (the buffer
 * opened with the card version's layout, the run started at once), until the end word, a stop or a
 * failed check; a failed check raises alarm bit 12 (an offline file it could not read) instead of
 * bit 4. The traces and records are those of an online run of the same blocks. */
typedef struct cardsim_off_entry {
  uint32_t state;
  uint8_t name[20];
  uint32_t mark;
  uint32_t reserved;
  uint32_t id;
  uint32_t tail;
} cardsim_off_entry;

typedef struct cardsim_off_head {
  uint32_t version;
  uint32_t pid;
  uint32_t timing;
  cardsim_off_entry entries[16];
} cardsim_off_head;

/* Decodes the head page at `address` of a chip (a NAND byte address is page x 2048); 1 for a null
   out, a place beyond the chip or a page without 0xA5 in its byte 2047. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_off_head_get(uint32_t chip, uint32_t address, cardsim_off_head* out);
/* The card's start input: runs offline document `doc` as the card's own input does, also while no
   host has the card open; 1 for a document from 16 on. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_start_input(uint32_t doc);
/* ---- the galvanometer, waits and register writes (what the executor ran; every record starts
   over at the buffer open) */

/* The galvanometer now (the executor brought up to date first); 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_galvo_state(cardsim_galvo* out);
/* Entries of the position trace since the buffer open (the first 2097152 kept). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_position_count(void);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_position_get(uint32_t index, cardsim_position* out);
/* Where the mirrors were and which lasers were on at stream time `time_us`; 1 when out is null,
   when the executor has not reached that time or when it lies in a part of a record not kept. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_position_at(uint64_t time_us, cardsim_mirror* out);
/* Waits since the buffer open, the open one included, in order (the first 262144 kept). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_wait_count(void);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_wait_get(uint32_t index, cardsim_wait* out);
/* Register writes since the buffer open, in order (the first 262144 kept). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_reg_write_count(void);
CARDSIM_API uint32_t CARDSIM_CALL cardsim_reg_write_get(uint32_t index, cardsim_reg_write* out);

/* ---- the card's picture */

/* Writes the path the executor ran since the buffer open as an SVG 1.1 picture in the field's
   millimetres: a move of the mirrors while a laser emitted (cardsim_position_at's laser_on at the
   move's time) is a marked line (solid black, <polyline class="mark">), a move while none emitted
   a jump (thin dashed grey, class "jump"), a time of emission along which the mirrors travelled
   less than 0.05 mm a dot (a filled circle where it began, <circle class="dot">); the path begins
   where the first position word put the mirrors, and Y points up. 16-bit codes are taken over a field of field_x_mm x field_y_mm
   (p = code x F / 65535 - F / 2), 21-bit codes over [-R, R] with R = half_range_mm
   (p = code x 2R / 2^21 - R); a size of 0 takes the one of the configuration (field_mm,
   half_range_mm), by default 100 mm and 10 mm. A run still going is drawn as far as it went. 1 for
   a null or empty path, a size below 0 or not finite, or a file that cannot be written. With the
   configuration key svg the card writes the picture of each run when it ends, however it ends. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_write_svg(const char* path, double field_x_mm, double field_y_mm,
                                                    double half_range_mm);

/* ---- the encoder (encoder_model.h has the card's rules)
 *
 * The card counts the conveyor encoder's pulses into a counter that wraps at its range (command 99:
 * p2 the range, 1..0x1000000, else the full 24 bits; p1 bit 0 counts against the pulses). Command
 * 101 (0, v) sets the counter; 100 (0, 0) answers it in r1, 100 (0, 1) the pulse period in 48 MHz
 * ticks in r1. With the position buffer on (103 (1, 0); (1, 1) off; each switch empties it) every
 * arrival of the counter at range / 4 or range / 2 is kept (64 entries; beyond them crossings are
 * lost and the next answer carries bit 8); 102 (0, 0) answers the oldest: r0 its status (bit 1 set
 * counting down), r1 the position; with none held r0 bit 0 (and bit 1 for the last move's
 * direction) and the counter now; with the buffer off r0 bit 9 and the counter. The fly settings
 * (9, 10, 97, 98, 105, 106) are kept as received. Nothing of it is kept in the state file. */

typedef struct cardsim_encoder {
  uint32_t position;         /* the counter, 0 .. range - 1 */
  uint32_t range;            /* where it wraps */
  uint32_t count_down;       /* command 99 p1 bit 0 */
  uint32_t period_ticks;     /* what 100 (0, 1) answers */
  uint32_t buffer_on;        /* the position buffer is on */
  uint32_t entries;          /* entries held for command 102 */
  uint32_t overflow;         /* crossings were lost since the last answer of 102 */
  uint32_t commands;         /* encoder and fly commands received since the reset */
  uint32_t scale[2];         /* command 97 p1, p2 */
  uint32_t source[2];        /* 98 */
  uint32_t limits[2];        /* 9 */
  uint32_t limit_error;      /* 10 (1, x) */
  uint32_t mark_range;       /* 10 (2, x) */
  uint32_t compensation[2];  /* 105 */
  uint32_t rotate_centre[2]; /* 106 */
} cardsim_encoder;

/* Sets the counter (reduced into the range; no crossing is recorded) and the pulse period. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_encoder(uint32_t position, uint32_t period_ticks);
/* The encoder turns by `pulses` (negative: backwards); the counter follows, crossings are recorded. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_encoder_move(int32_t pulses);
/* Fills *out; 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_encoder(cardsim_encoder* out);

/* ---- the card parameters
 *
 * When the host commits the card-parameter area (command 83, operation 4, 0x20000004) the card
 * loads its card-parameter page: serial flash 0x120000 on cards of version 56 and up, else NAND
 * page 0x1C200 (the same place of the next good block when the bad-block table at serial flash
 * 0x100000 marks it bad). A page that ends with 0xA5 in byte 2047 holds the list: its packets (six
 * 0xA5 bytes, u16 command, u32 p1, u32 p2) from byte 0 up to the first 16 bytes without the six
 * 0xA5 bytes. Any other page gives the card no list (a commit of every area, 0xF00000FF, then
 * keeps the list it has). The commit takes the area into effect either way. The card
 * applies what it models: command 82 packets set their flags as the command does (cardsim_get_flag
 * sees them), command 20 sets the run start threshold to (p2 & 0xFF) x 64 KiB (cardsim_fifo.start_threshold);
 * the list stays readable until the next load or reset (it is not kept in the state file). */

typedef struct cardsim_para_packet {
  uint32_t command;
  uint32_t p1;
  uint32_t p2;
} cardsim_para_packet;

/* Packets of the list the card loaded last; 0 before the first load. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_para_count(void);
/* Packet `index` of that list; 1 when there is none or out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_para_get(uint32_t index, cardsim_para_packet* out);

/* ---- the io debug records (command 87; debug_record_model.h) */

/* Queues a record of the test's own (kind 1-4, dt in 48 MHz ticks, value), whether records are on
 * or not. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_debug_queue(uint32_t kind, uint32_t dt, uint32_t value);
/* Answers command 87 in the short form (1) or the long form (0, the default). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_debug_form(uint32_t short_form);
/* Records queued now and records dropped on a full queue since the reset; nulls are skipped. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_debug_count(uint32_t* queued, uint32_t* overflow);

/* ---- the conveyor and the camera (stream_engine.h has the card's rules) */
/* The conveyor's speed in encoder pulses per second of card time (negative: backwards). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_encoder_speed(int32_t pulses_per_second);
/* The camera is ready (1, the default) or not (0). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_camera_ready(uint32_t ready);

/* One camera step as the card ran it. */
typedef struct cardsim_camera {
  uint64_t time_us;   /* card time of its parameter word */
  uint32_t x, y;      /* the codes of its 0x31 and 0x32 words */
  uint32_t para;      /* its 0x34 word */
  uint32_t reg0;      /* the 16-bit lane values at its closing 0x51700000 */
  uint32_t reg1;
  uint32_t reserved;
} cardsim_camera;
CARDSIM_API uint32_t CARDSIM_CALL cardsim_camera_count(void);
/* 1 when it is not held or out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_camera_get(uint32_t index, cardsim_camera* out);

/* ---- the extra axes (axis_model.h has the card's rules) */

typedef struct cardsim_axis {
  uint32_t position;  /* pulse code, 8388607 = position 0 */
  uint32_t target;
  uint32_t moving;    /* 1 while it moves */
  uint32_t homed;     /* 1 once it homed */
  uint32_t speed;     /* pulses per second of its move (0 at rest) */
  uint32_t setting_p1[0x15]; /* last parameters of commands 0x120..0x134 for this axis */
  uint32_t setting_p2[0x15];
} cardsim_axis;

/* Advances the axes by `us` of virtual time (every command exchange also advances them by 1 ms). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_axis_step_us(uint64_t us);
/* Axis `index` 0..3; 1 for another index or a null out. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_axis_get(uint32_t index, cardsim_axis* out);
/* The home switch and the positive and negative limit switches of axis `index` at pulse codes
   (0: none); command 33 r1 shows a switch while the axis stands at or beyond it. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_axis_set_switches(uint32_t index, uint32_t home, uint32_t limit_p,
                                                            uint32_t limit_n);
/* ---- the optical path switch (oss_model.h)
 *
 * Command 0x149 (p, 0): r0 bits 0-15 path p's setting (paths 0..3), r1 bits 0-15 the current
 * setting; for p = 0 r0 bits 21, 22 and 23 rise their delays after output 30 rose (never with
 * CARDSIM_OSS_NEVER) and fall with it. Command 0x14A (0, s) sets the current setting. */
#define CARDSIM_OSS_NEVER 0xFFFFFFFFu
typedef struct cardsim_oss {
  uint32_t settings[4]; /* each path's setting */
  uint32_t current;     /* the current setting */
  uint32_t delay_us[3]; /* bits 21, 22, 23 after output 30 rose, in µs of the card's time */
} cardsim_oss;
/* Sets paths, current setting and delays; 1 when o is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_oss(const cardsim_oss* o);
/* Fills *out with what the switch holds now; 1 when out is null. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_get_oss(cardsim_oss* out);

/* The names of every control function, for hosts that resolve them by name. */

/* ---- Immediate commands (immediate_model.h). */
/* The laser on the UART answers the request line `request` (without its CR) with `reply` after
 * delay_ms; a null reply removes the line from the script. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_uart_script(const char* request, const char* reply, uint32_t delay_ms);
/* 0 scripted, 1 silent, 2 garbage, 3 endless chatter, 4 a transmitter that never latches, 5 one
 * that never clears. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_uart_behaviour(uint32_t behaviour);
/* Copies what the laser received (at most size - 1 bytes and a terminator); returns the full count. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_uart_received(char* out, uint32_t size);
/* The galvanometer commands: polls that see each move running (for_ever nonzero: all of them), the
 * feedback offset in codes. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_galvo_cmd(uint32_t moving_polls, uint32_t for_ever, int32_t offset_x,
                                                        int32_t offset_y);
/* The 16-bit position, the moves of command 4, the last raw-code switch of command 6 (1, v) (and
 * how many there were). Null pointers are skipped. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_galvo_cmd_state(uint32_t* x, uint32_t* y, uint32_t* moves,
                                                          uint32_t* raw_switch, uint32_t* raw_switches);
/* The two route words of command 117. */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_set_routes(uint32_t r0, uint32_t r1);
/* The n-th reply from now is held for ms before the driver hands it over (0: no stall). */
CARDSIM_API uint32_t CARDSIM_CALL cardsim_fault_stall_reply(uint32_t n, uint32_t ms);

#define CARDSIM_CONTROL_FUNCTIONS(X)                                                                   \
  X(cardsim_reset) X(cardsim_load_config) X(cardsim_save_state) X(cardsim_load_state)                 \
  X(cardsim_get_state) X(cardsim_set_card_type)                                                       \
  X(cardsim_set_card_version) X(cardsim_set_hw_words) X(cardsim_set_unique_id)                          \
  X(cardsim_set_usb_firmware) X(cardsim_set_usb_startup) X(cardsim_set_present) X(cardsim_set_speed)    \
  X(cardsim_set_inputs) X(cardsim_set_ad) X(cardsim_set_run_state) X(cardsim_set_alarms)                \
  X(cardsim_set_sticky) X(cardsim_set_status_flags) X(cardsim_set_answer) X(cardsim_clear_answers)      \
  X(cardsim_get_flag) X(cardsim_set_secondary) X(cardsim_set_link_fields) X(cardsim_set_link_latches)   \
  X(cardsim_log_count) X(cardsim_log_get) X(cardsim_log_clear) X(cardsim_fault_lose_at)                 \
  X(cardsim_fault_lose_at_chunk) X(cardsim_fault_wrong_echo) X(cardsim_fault_control_fail) X(cardsim_fault_toggle)                   \
  X(cardsim_fault_hold_low) X(cardsim_inject_stale_reply) X(cardsim_inject_stale_bulk)                 \
  X(cardsim_set_latency_us) X(cardsim_set_consume) X(cardsim_set_start_threshold) X(cardsim_get_fifo)    \
  X(cardsim_step_us) X(cardsim_trace_count) X(cardsim_trace_get) X(cardsim_trace_clear)                 \
  X(cardsim_laser_state) X(cardsim_laser_segment_count) X(cardsim_laser_segment_get)                  \
  X(cardsim_power_change_count) X(cardsim_power_change_get) X(cardsim_output_change_count)            \
  X(cardsim_output_change_get) X(cardsim_get_flash) X(cardsim_flash_read) X(cardsim_flash_write)       \
  X(cardsim_nand_set_bad) X(cardsim_nand_set_id) X(cardsim_flash_fault) X(cardsim_flash_commit_fail)  \
  X(cardsim_set_flash_busy)                                                                            \
  X(cardsim_galvo_state) X(cardsim_position_count) X(cardsim_position_get) X(cardsim_position_at)      \
  X(cardsim_wait_count) X(cardsim_wait_get) X(cardsim_reg_write_count) X(cardsim_reg_write_get)      \
  X(cardsim_write_svg)                                                                                 \
  X(cardsim_set_encoder) X(cardsim_encoder_move) X(cardsim_get_encoder)                              \
  X(cardsim_para_count) X(cardsim_para_get)                                                          \
  X(cardsim_debug_queue) X(cardsim_debug_form) X(cardsim_debug_count)                                \
  X(cardsim_set_encoder_speed) X(cardsim_set_camera_ready) X(cardsim_camera_count) X(cardsim_camera_get) \
  X(cardsim_axis_step_us) X(cardsim_axis_get) X(cardsim_axis_set_switches)                           \
  X(cardsim_uart_script) X(cardsim_uart_behaviour) X(cardsim_uart_received) X(cardsim_set_galvo_cmd)   \
  X(cardsim_galvo_cmd_state) X(cardsim_set_routes) X(cardsim_fault_stall_reply)                       \
  X(cardsim_set_flash_busy_us) X(cardsim_off_head_get) X(cardsim_start_input) \
  X(cardsim_set_oss) X(cardsim_get_oss)

#ifdef __cplusplus
}
#endif
