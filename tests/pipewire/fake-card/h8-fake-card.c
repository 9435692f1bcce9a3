/*
 * h8-fake-card: the USB sound cards of the private PipeWire test stack, presented the way the
 * session manager's ALSA monitor presents real ones. Each card is an Audio/Device object, and
 * its nodes are created after it and carry device.id = the device's global id:
 *
 *   a webcam microphone   exported first; one 2-channel capture node reading DIR/webcam.fifo
 *   the H8                a capture node whose shape follows the profile, and a 2-channel
 *                         playback node (its output is dropped):
 *                           16   16 channels reading DIR/usb16.fifo (the start-up profile)
 *                           2    2 channels reading DIR/usb2.fifo
 *                           off  no nodes; the device stays
 *   a second H8           absent until "second plug": another unit (serial 5678EF01, port 2;
 *                         the first is on port 1), one 2-channel capture node reading
 *                         DIR/second.fifo
 *
 * Like an ALSA node, every node takes a runtime "audio.rate" in its Props param (a
 * SPA_PROP_params struct of key/value pairs; 0, the start value, leaves the rate to the server)
 * and reports it back in the Props it enumerates. The FIFOs stay at 48 kHz whatever it says.
 *
 * Usage: h8-fake-card DIR. It talks to the server whose socket is DIR/pipewire-0, reads commands
 * from the FIFO DIR/card.ctl, one a line ("profile 2", "profile 16", "profile off", "unplug",
 * "plug", "second plug", "second unplug", "quit"), and keeps DIR/card.state up to date, one line:
 *   profile=16 plugged=1 h8_device=ID h8_node=ID|none h8_rate=R|none h8_out_node=ID|none
 *   h8_out_rate=R|none webcam_device=ID webcam_node=ID webcam_rate=R webcam_rate_writes=N
 *   second_device=ID|none second_node=ID|none connected=1 generation=N
 * rewritten (atomically) whenever that line changes; N counts the rewrites. Ids are written once
 * the server has registered the objects and, for nodes, all their ports. A rate is the node's
 * Props "audio.rate"; webcam_rate_writes counts the Props writes naming "audio.rate" that the
 * webcam's node has received.
 *
 * A profile switch removes the old H8 nodes and creates the new ones only after the server has
 * reported the removal. "unplug" removes the H8's nodes, then its device; "plug" exports them
 * again, with new ids and the rate left to the server, as a re-plugged card comes back. When the
 * server goes away everything is dropped, the state shows connected=0, and the program
 * reconnects every 200 ms, then exports everything again (new ids) with the current profile.
 * SIGTERM, SIGINT and "quit" end it with status 0.
 *
 * The nodes are streams of this program's own connection. The FIFOs are created here and held
 * open for reading, so that a writer neither fails to open them nor gets SIGPIPE while a node is
 * absent.
 */
#define _GNU_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <pipewire/pipewire.h>
#include <spa/monitor/device.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/parser.h>
#include <spa/utils/result.h>
#include <spa/utils/string.h>

#define RETRY_NSEC (200 * SPA_NSEC_PER_MSEC)
#define MAX_PORTS 64
#define MAX_CHANNELS 16
#define FIFO_RATE 48000

enum profile { PROFILE_OFF, PROFILE_2, PROFILE_16 };
static const char *const profile_names[] = {
	[PROFILE_OFF] = "off", [PROFILE_2] = "2", [PROFILE_16] = "16",
};

struct node_spec {
	const char *name;
	const char *description;
	const char *fifo;		/* file name inside DIR a capture node reads; NULL for playback */
	uint32_t channels;
	const char *profile_name;	/* device.profile.name */
	const char *alsa_path;
};

static const struct node_spec webcam_spec = {
	"alsa_input.usb-Generic_USB_Webcam_WC0001-02.analog-stereo", "USB Webcam Analog Stereo",
	"webcam.fifo", 2, "analog-stereo", "front:1",
};
static const struct node_spec h8_specs[] = {
	[PROFILE_2] = { "alsa_input.usb-Norvalt_H8_1234ABCD-00.analog-stereo", "H8 Analog Stereo",
		"usb2.fifo", 2, "analog-stereo", "front:2" },
	[PROFILE_16] = { "alsa_input.usb-Norvalt_H8_1234ABCD-00.multichannel-input", "H8 Multichannel",
		"usb16.fifo", 16, "multichannel-input", "hw:2" },
};
static const struct node_spec h8_playback_spec = {
	"alsa_output.usb-Norvalt_H8_1234ABCD-00.analog-stereo", "H8 Analog Stereo",
	NULL, 2, "analog-stereo", "front:2",
};
/* A second H8 (another unit: its own serial number and port), plugged on request. */
static const struct node_spec second_spec = {
	"alsa_input.usb-Norvalt_H8_5678EF01-00.analog-stereo", "H8 Analog Stereo",
	"second.fifo", 2, "analog-stereo", "front:4",
};
static const char *const fifo_names[] = { "webcam.fifo", "usb2.fifo", "usb16.fifo", "second.fifo" };

struct card;

/* A device object with no params: all the server and the session manager need to list it. */
struct fake_device {
	struct spa_device iface;
	struct spa_hook_list hooks;
	struct pw_properties *props;
	struct card *card;
	struct pw_proxy *proxy;
	struct spa_hook proxy_listener;
	uint32_t global_id;		/* SPA_ID_INVALID until the server has bound it */
};

struct fake_node {
	struct card *card;
	struct fake_device *device;
	const struct node_spec *spec;	/* what the stream makes */
	uint32_t spec_device_id;	/* the device.id it gave the node */
	struct pw_stream *stream;
	struct spa_hook stream_listener;
	bool failed;			/* the stream failed; it is made anew from the loop */
	uint32_t node_id;		/* stays set after unloading until the server removes the node */
	uint32_t ports[MAX_PORTS];
	uint32_t n_ports;

	uint32_t rate;			/* Props "audio.rate"; 0 leaves it to the server */
	unsigned rate_writes;		/* Props writes naming "audio.rate", over the program's life */

	/* Capture: the FIFO and a partial frame carried to the next cycle (data thread only). */
	int fd;
	uint32_t frame_size;
	uint8_t leftover[MAX_CHANNELS * sizeof(int16_t)];
	uint32_t leftover_count;
};

struct card {
	const char *dir;
	struct pw_main_loop *main_loop;
	struct pw_loop *loop;
	struct pw_context *context;

	struct pw_core *core;
	struct spa_hook core_listener;
	struct pw_registry *registry;
	struct spa_hook registry_listener;
	bool lost;			/* the server went away; torn down from the retry timer */
	bool reported_unreachable;

	struct spa_source *retry_timer;
	struct spa_source *advance_event;
	struct spa_source *ctl_source;
	int ctl_fd;
	char ctl_buf[256];
	size_t ctl_len;
	int fifo_fds[SPA_N_ELEMENTS(fifo_names)];

	struct fake_device webcam_dev, h8_dev, second_dev;
	struct fake_node webcam, h8, h8_out, second;
	enum profile profile;
	bool plugged;			/* the H8 is plugged in */
	bool second_plugged;		/* the second H8 is plugged in */

	char state[512];
	unsigned generation;
};

static void schedule_advance(struct card *c);
static void arm_retry(struct card *c, bool now);

static char *dir_path(const struct card *c, const char *name)
{
	char *path;
	if (asprintf(&path, "%s/%s", c->dir, name) < 0) {
		fprintf(stderr, "h8-fake-card: out of memory\n");
		exit(1);
	}
	return path;
}

/* ---- device objects ---- */

static int device_add_listener(void *object, struct spa_hook *listener,
		const struct spa_device_events *events, void *data)
{
	struct fake_device *d = object;
	struct spa_hook_list save;
	struct spa_device_info info = SPA_DEVICE_INFO_INIT();

	/* A new listener gets the info at once; the server registers the device on it. */
	spa_hook_list_isolate(&d->hooks, &save, listener, events, data);
	info.change_mask = SPA_DEVICE_CHANGE_MASK_PROPS | SPA_DEVICE_CHANGE_MASK_PARAMS;
	info.props = &d->props->dict;
	info.params = NULL;
	info.n_params = 0;
	spa_hook_list_call_simple(&d->hooks, struct spa_device_events, info, 0, &info);
	spa_hook_list_join(&d->hooks, &save);
	return 0;
}

static int device_sync(void *object, int seq)
{
	struct fake_device *d = object;
	spa_hook_list_call_simple(&d->hooks, struct spa_device_events, result, 0, seq, 0, 0, NULL);
	return 0;
}

static int device_enum_params(void *object, int seq, uint32_t id, uint32_t index, uint32_t max,
		const struct spa_pod *filter)
{
	(void)object; (void)seq; (void)id; (void)index; (void)max; (void)filter;
	return 0;
}

static int device_set_param(void *object, uint32_t id, uint32_t flags, const struct spa_pod *param)
{
	(void)object; (void)id; (void)flags; (void)param;
	return -ENOTSUP;
}

static const struct spa_device_methods device_methods = {
	.version = SPA_VERSION_DEVICE_METHODS,
	.add_listener = device_add_listener,
	.sync = device_sync,
	.enum_params = device_enum_params,
	.set_param = device_set_param,
};

static void device_init(struct fake_device *d, struct card *c, struct pw_properties *props)
{
	if (props == NULL) {
		fprintf(stderr, "h8-fake-card: cannot allocate device properties\n");
		exit(1);
	}
	d->iface.iface = SPA_INTERFACE_INIT(SPA_TYPE_INTERFACE_Device, SPA_VERSION_DEVICE,
			&device_methods, d);
	spa_hook_list_init(&d->hooks);
	d->props = props;
	d->card = c;
	d->global_id = SPA_ID_INVALID;
}

static void device_proxy_bound(void *data, uint32_t global_id)
{
	struct fake_device *d = data;
	d->global_id = global_id;
	schedule_advance(d->card);
}

/* The server destroyed the device (someone removed it, or the server is shutting down): the proxy
 * goes too, and the next step exports the device again while there is a server. */
static void device_proxy_removed(void *data)
{
	struct fake_device *d = data;
	if (!d->card->lost)
		fprintf(stderr, "h8-fake-card: the server removed device %s\n",
				pw_properties_get(d->props, PW_KEY_DEVICE_NAME));
	pw_proxy_destroy(d->proxy);
	schedule_advance(d->card);
}

static void device_proxy_error(void *data, int seq, int res, const char *message)
{
	struct fake_device *d = data;
	(void)seq;
	fprintf(stderr, "h8-fake-card: device %s: %s (%s)\n",
			pw_properties_get(d->props, PW_KEY_DEVICE_NAME), message, spa_strerror(res));
}

static void device_proxy_destroy(void *data)
{
	struct fake_device *d = data;
	spa_hook_remove(&d->proxy_listener);
	d->proxy = NULL;
	d->global_id = SPA_ID_INVALID;
}

static const struct pw_proxy_events device_proxy_events = {
	.version = PW_VERSION_PROXY_EVENTS,
	.destroy = device_proxy_destroy,
	.bound = device_proxy_bound,
	.removed = device_proxy_removed,
	.error = device_proxy_error,
};

static bool device_export(struct card *c, struct fake_device *d)
{
	d->proxy = pw_core_export(c->core, SPA_TYPE_INTERFACE_Device, &d->props->dict, &d->iface, 0);
	if (d->proxy == NULL) {
		fprintf(stderr, "h8-fake-card: cannot export device %s: %s\n",
				pw_properties_get(d->props, PW_KEY_DEVICE_NAME), strerror(errno));
		return false;
	}
	pw_proxy_add_listener(d->proxy, &d->proxy_listener, &device_proxy_events, d);
	return true;
}

/* ---- nodes ---- */

static int fifo_fd(const struct card *c, const char *name)
{
	for (size_t i = 0; i < SPA_N_ELEMENTS(fifo_names); i++)
		if (spa_streq(fifo_names[i], name))
			return c->fifo_fds[i];
	return -1;
}

/* The node's Props as an ALSA node reports them: its device, then a struct of key/value pairs
 * with the settings it takes at runtime. */
static const struct spa_pod *node_props(const struct fake_node *n, struct spa_pod_builder *b)
{
	struct spa_pod_frame f[2];

	spa_pod_builder_push_object(b, &f[0], SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
	spa_pod_builder_add(b,
		SPA_PROP_device, SPA_POD_String(n->spec->alsa_path),
		SPA_PROP_cardName, SPA_POD_String(pw_properties_get(n->device->props,
				"api.alsa.card.name")),
		0);
	spa_pod_builder_prop(b, SPA_PROP_params, 0);
	spa_pod_builder_push_struct(b, &f[1]);
	spa_pod_builder_string(b, SPA_KEY_AUDIO_CHANNELS);
	spa_pod_builder_int(b, (int32_t)n->spec->channels);
	spa_pod_builder_string(b, SPA_KEY_AUDIO_RATE);
	spa_pod_builder_int(b, (int32_t)n->rate);
	spa_pod_builder_string(b, SPA_KEY_AUDIO_FORMAT);
	spa_pod_builder_string(b, "S16LE");
	spa_pod_builder_pop(b, &f[1]);
	return spa_pod_builder_pop(b, &f[0]);
}

/* Takes "audio.rate" from a Props param's key/value struct as an ALSA node does: an integer,
 * a long or a decimal string. Other keys are ignored. */
static void node_take_prop_params(struct fake_node *n, const struct spa_pod *params)
{
	struct spa_pod_parser prs;
	struct spa_pod_frame f;

	spa_pod_parser_pod(&prs, params);
	if (spa_pod_parser_push_struct(&prs, &f) < 0)
		return;
	for (;;) {
		const char *key;
		struct spa_pod *value;
		int32_t i;
		int64_t l;
		const char *text;

		if (spa_pod_parser_get_string(&prs, &key) < 0 ||
				spa_pod_parser_get_pod(&prs, &value) < 0)
			break;
		if (!spa_streq(key, SPA_KEY_AUDIO_RATE))
			continue;
		n->rate_writes++;
		if (spa_pod_get_int(value, &i) >= 0 && i >= 0)
			n->rate = (uint32_t)i;
		else if (spa_pod_get_long(value, &l) >= 0 && l >= 0 && l <= UINT32_MAX)
			n->rate = (uint32_t)l;
		else if (spa_pod_get_string(value, &text) >= 0)
			n->rate = (uint32_t)strtoul(text, NULL, 10);
	}
}

/* Main loop: a Props write from the server: some client's set_param, or the server handing the
 * node the converter's settings while it sets the node up. */
static void node_param_changed(void *data, uint32_t id, const struct spa_pod *param)
{
	struct fake_node *n = data;
	const struct spa_pod *params = NULL;
	const struct spa_pod *props;
	uint8_t buffer[1024];
	struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
	int res;

	if (id != SPA_PARAM_Props)
		return;
	if (param != NULL &&
			spa_pod_parse_object(param, SPA_TYPE_OBJECT_Props, NULL,
				SPA_PROP_params, SPA_POD_OPT_Pod(&params)) >= 0 &&
			params != NULL)
		node_take_prop_params(n, params);
	/* Report the Props anew, as the ALSA node does after every write. */
	props = node_props(n, &b);
	if ((res = pw_stream_update_params(n->stream, &props, 1)) < 0)
		fprintf(stderr, "h8-fake-card: node %s cannot report its Props: %s\n",
				n->spec->name, spa_strerror(res));
	schedule_advance(n->card);
}

static void node_state_changed(void *data, enum pw_stream_state old, enum pw_stream_state state,
		const char *error)
{
	struct fake_node *n = data;
	(void)old;
	if (state != PW_STREAM_STATE_ERROR)
		return;
	if (!n->card->lost)
		fprintf(stderr, "h8-fake-card: node %s failed (%s)\n", n->spec->name,
				error ? error : "no reason given");
	/* A stream is not destroyed from its own callback: the next step makes it anew. */
	n->failed = true;
	arm_retry(n->card, false);
}

/* Data thread: what the FIFO holds, up to what the server asks for. */
static void node_capture(void *data)
{
	struct fake_node *n = data;
	struct pw_buffer *buf;
	struct spa_data *d;
	uint32_t want;
	ssize_t got;

	if ((buf = pw_stream_dequeue_buffer(n->stream)) == NULL)
		return;
	d = &buf->buffer->datas[0];
	if ((want = (uint32_t)buf->requested * n->frame_size) == 0)
		want = 4096 * n->frame_size;
	want = SPA_MIN(want, d->maxsize);

	d->chunk->offset = 0;
	d->chunk->stride = (int32_t)n->frame_size;
	d->chunk->size = SPA_MIN(want, n->leftover_count);
	memcpy(d->data, n->leftover, d->chunk->size);
	want -= d->chunk->size;
	got = read(n->fd, SPA_PTROFF(d->data, d->chunk->size, void), want);
	if (got > 0)
		d->chunk->size += (uint32_t)got;
	n->leftover_count = d->chunk->size % n->frame_size;
	d->chunk->size -= n->leftover_count;
	memcpy(n->leftover, SPA_PTROFF(d->data, d->chunk->size, void), n->leftover_count);
	pw_stream_queue_buffer(n->stream, buf);
}

/* Data thread: the playback node's output goes nowhere. */
static void node_playback(void *data)
{
	struct fake_node *n = data;
	struct pw_buffer *buf = pw_stream_dequeue_buffer(n->stream);
	if (buf != NULL)
		pw_stream_queue_buffer(n->stream, buf);
}

static const struct pw_stream_events capture_events = {
	.version = PW_VERSION_STREAM_EVENTS,
	.state_changed = node_state_changed,
	.param_changed = node_param_changed,
	.process = node_capture,
};

static const struct pw_stream_events playback_events = {
	.version = PW_VERSION_STREAM_EVENTS,
	.state_changed = node_state_changed,
	.param_changed = node_param_changed,
	.process = node_playback,
};

static bool node_load(struct card *c, struct fake_node *n, const struct node_spec *spec)
{
	const struct pw_properties *dp = n->device->props;
	const bool playback = spec->fifo == NULL;
	char positions[MAX_CHANNELS * 8] = "[";
	struct pw_properties *props;
	struct spa_audio_info_raw info = { 0 };
	uint8_t buffer[2048];
	struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
	const struct spa_pod *params[2];
	int res;

	for (uint32_t i = 0; i < spec->channels; i++) {
		size_t used = strlen(positions);
		snprintf(positions + used, sizeof(positions) - used, " AUX%u", i);
	}
	strncat(positions, " ]", sizeof(positions) - strlen(positions) - 1);

	/* What a node of a real ALSA card carries. */
	props = pw_properties_new(
		PW_KEY_NODE_NAME, spec->name,
		PW_KEY_NODE_DESCRIPTION, spec->description,
		PW_KEY_NODE_NICK, pw_properties_get(dp, PW_KEY_DEVICE_PRODUCT_NAME),
		PW_KEY_MEDIA_CLASS, playback ? "Audio/Sink" : "Audio/Source",
		PW_KEY_NODE_VIRTUAL, "false",
		PW_KEY_DEVICE_API, "alsa",
		PW_KEY_DEVICE_BUS, "usb",
		PW_KEY_DEVICE_VENDOR_ID, pw_properties_get(dp, PW_KEY_DEVICE_VENDOR_ID),
		PW_KEY_DEVICE_PRODUCT_ID, pw_properties_get(dp, PW_KEY_DEVICE_PRODUCT_ID),
		"device.profile.name", spec->profile_name,
		"api.alsa.path", spec->alsa_path,
		"api.alsa.pcm.stream", playback ? "playback" : "capture",
		"api.alsa.card", pw_properties_get(dp, "api.alsa.card"),
		"alsa.card", pw_properties_get(dp, "api.alsa.card"),
		"api.alsa.card.name", pw_properties_get(dp, "api.alsa.card.name"),
		"priority.session", "1800",
		"priority.driver", "1800",
		PW_KEY_AUDIO_FORMAT, "S16LE",
		SPA_KEY_AUDIO_POSITION, positions,
		NULL);
	if (props == NULL) {
		fprintf(stderr, "h8-fake-card: out of memory\n");
		exit(1);
	}
	pw_properties_setf(props, PW_KEY_DEVICE_ID, "%u", n->device->global_id);
	pw_properties_setf(props, PW_KEY_AUDIO_CHANNELS, "%u", spec->channels);
	pw_properties_setf(props, PW_KEY_NODE_RATE, "1/%u", FIFO_RATE);
	if (pw_properties_get(dp, PW_KEY_DEVICE_SERIAL) != NULL)
		pw_properties_set(props, PW_KEY_DEVICE_SERIAL, pw_properties_get(dp, PW_KEY_DEVICE_SERIAL));

	n->spec = spec;
	n->spec_device_id = n->device->global_id;
	n->n_ports = 0;
	n->failed = false;
	n->rate = 0;	/* a new node, as the ALSA monitor makes it */
	n->fd = playback ? -1 : fifo_fd(c, spec->fifo);
	n->frame_size = spec->channels * sizeof(int16_t);
	n->leftover_count = 0;

	n->stream = pw_stream_new(c->core, spec->name, props);
	if (n->stream == NULL) {
		fprintf(stderr, "h8-fake-card: cannot create node %s: %s\n", spec->name, strerror(errno));
		return false;
	}
	pw_stream_add_listener(n->stream, &n->stream_listener,
			playback ? &playback_events : &capture_events, n);

	info.format = SPA_AUDIO_FORMAT_S16_LE;
	info.rate = FIFO_RATE;
	info.channels = spec->channels;
	for (uint32_t i = 0; i < spec->channels; i++)
		info.position[i] = SPA_AUDIO_CHANNEL_AUX0 + i;
	params[0] = spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info);
	params[1] = node_props(n, &b);
	res = pw_stream_connect(n->stream, playback ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT,
			PW_ID_ANY,
			PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS,
			params, 2);
	if (res < 0) {
		fprintf(stderr, "h8-fake-card: cannot connect node %s: %s\n", spec->name,
				spa_strerror(res));
		spa_hook_remove(&n->stream_listener);
		pw_stream_destroy(n->stream);
		n->stream = NULL;
		return false;
	}
	return true;
}

/* Removes the stream; the server reports the node's removal afterwards. */
static void node_unload(struct fake_node *n)
{
	if (n->stream == NULL)
		return;
	spa_hook_remove(&n->stream_listener);
	pw_stream_destroy(n->stream);
	n->stream = NULL;
	n->failed = false;
}

/* Brings the node to `want` (NULL: no node) one step at a time; true once it is there. A node
 * made for an earlier incarnation of its device, or whose stream failed, is replaced too. */
static bool node_reconcile(struct card *c, struct fake_node *n, const struct node_spec *want)
{
	if (n->stream != NULL) {
		if (!n->failed && n->spec == want && n->spec_device_id == n->device->global_id)
			return n->node_id != SPA_ID_INVALID && n->n_ports >= want->channels;
		/* Let the server register the node first, so that its removal can be awaited. */
		if (n->node_id == SPA_ID_INVALID && !n->failed)
			return false;
		node_unload(n);
		return false;
	}
	if (n->node_id != SPA_ID_INVALID)
		return false;	/* the old node is still going away */
	if (want == NULL)
		return true;
	if (!node_load(c, n, want))
		arm_retry(c, false);
	return false;
}

/* ---- state file ---- */

static void write_file_atomically(const struct card *c, const char *name, const char *text)
{
	char *path = dir_path(c, name), *tmp = NULL;
	size_t left = strlen(text);
	int fd;

	if (asprintf(&tmp, "%s.tmp", path) < 0) {
		fprintf(stderr, "h8-fake-card: out of memory\n");
		exit(1);
	}
	fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0) {
		fprintf(stderr, "h8-fake-card: cannot create %s: %s\n", tmp, strerror(errno));
		goto out;
	}
	while (left > 0) {
		ssize_t w = write(fd, text, left);
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0) {
			fprintf(stderr, "h8-fake-card: cannot write %s: %s\n", tmp, strerror(errno));
			close(fd);
			unlink(tmp);
			goto out;
		}
		text += w;
		left -= (size_t)w;
	}
	if (close(fd) < 0) {
		fprintf(stderr, "h8-fake-card: cannot write %s: %s\n", tmp, strerror(errno));
		unlink(tmp);
		goto out;
	}
	if (rename(tmp, path) < 0) {
		fprintf(stderr, "h8-fake-card: cannot rename %s to %s: %s\n", tmp, path, strerror(errno));
		unlink(tmp);
	}
out:
	free(tmp);
	free(path);
}

static const char *id_text(uint32_t id, char buf[static 12])
{
	if (id == SPA_ID_INVALID)
		return "none";
	snprintf(buf, 12, "%u", id);
	return buf;
}

/* The node's rate, or "none" while it has no node. */
static const char *rate_text(const struct fake_node *n, bool connected, char buf[static 12])
{
	if (!connected || n->stream == NULL || n->node_id == SPA_ID_INVALID)
		return "none";
	snprintf(buf, 12, "%u", n->rate);
	return buf;
}

/* Rewrites DIR/card.state when what it says has changed. */
static void publish_state(struct card *c)
{
	char state[sizeof(c->state)], line[sizeof(c->state) + 32];
	char b[11][12];
	bool connected = c->core != NULL && !c->lost;

	snprintf(state, sizeof(state),
			"profile=%s plugged=%d h8_device=%s h8_node=%s h8_rate=%s h8_out_node=%s"
			" h8_out_rate=%s webcam_device=%s webcam_node=%s webcam_rate=%s"
			" webcam_rate_writes=%u second_device=%s second_node=%s connected=%d",
			profile_names[c->profile], c->plugged,
			id_text(connected ? c->h8_dev.global_id : SPA_ID_INVALID, b[0]),
			id_text(connected ? c->h8.node_id : SPA_ID_INVALID, b[1]),
			rate_text(&c->h8, connected, b[2]),
			id_text(connected ? c->h8_out.node_id : SPA_ID_INVALID, b[3]),
			rate_text(&c->h8_out, connected, b[4]),
			id_text(connected ? c->webcam_dev.global_id : SPA_ID_INVALID, b[5]),
			id_text(connected ? c->webcam.node_id : SPA_ID_INVALID, b[6]),
			rate_text(&c->webcam, connected, b[7]),
			c->webcam.rate_writes,
			id_text(connected ? c->second_dev.global_id : SPA_ID_INVALID, b[8]),
			id_text(connected ? c->second.node_id : SPA_ID_INVALID, b[9]), connected);
	if (strcmp(state, c->state) == 0)
		return;
	memcpy(c->state, state, sizeof(state));
	c->generation++;
	snprintf(line, sizeof(line), "%s generation=%u\n", state, c->generation);
	write_file_atomically(c, "card.state", line);
}

/* ---- the sequence: devices, then the webcam's node, then the H8's ---- */

static bool device_ready(struct card *c, struct fake_device *d)
{
	if (d->global_id != SPA_ID_INVALID)
		return true;
	if (d->proxy == NULL && !device_export(c, d))
		arm_retry(c, false);
	return false;
}

static void advance(struct card *c)
{
	const bool h8_nodes = c->plugged && c->profile != PROFILE_OFF;

	if (c->core == NULL || c->lost)
		return;
	if (!device_ready(c, &c->webcam_dev) || (c->plugged && !device_ready(c, &c->h8_dev)))
		return;
	if (!node_reconcile(c, &c->webcam, &webcam_spec))
		return;
	if (!node_reconcile(c, &c->h8, h8_nodes ? &h8_specs[c->profile] : NULL) ||
			!node_reconcile(c, &c->h8_out, h8_nodes ? &h8_playback_spec : NULL))
		return;
	/* Unplugged: the device goes once its nodes have gone, as a card's do. */
	if (!c->plugged && c->h8_dev.proxy != NULL)
		pw_proxy_destroy(c->h8_dev.proxy);
	/* The second H8, likewise: device, then node; node, then device. */
	if (c->second_plugged && !device_ready(c, &c->second_dev))
		return;
	if (!node_reconcile(c, &c->second, c->second_plugged ? &second_spec : NULL))
		return;
	if (!c->second_plugged && c->second_dev.proxy != NULL)
		pw_proxy_destroy(c->second_dev.proxy);
	publish_state(c);
}

static void on_advance(void *data, uint64_t count)
{
	(void)count;
	advance(data);
}

/* Steps run from the loop, never from inside the callbacks that call for them. */
static void schedule_advance(struct card *c)
{
	int res = pw_loop_signal_event(c->loop, c->advance_event);
	if (res < 0)
		fprintf(stderr, "h8-fake-card: cannot wake the main loop: %s\n", spa_strerror(res));
}

/* ---- registry: the ids of our nodes and their ports ---- */

static struct fake_node *node_by_id(struct card *c, uint32_t id)
{
	if (id == SPA_ID_INVALID)
		return NULL;
	if (c->webcam.node_id == id)
		return &c->webcam;
	if (c->h8.node_id == id)
		return &c->h8;
	if (c->h8_out.node_id == id)
		return &c->h8_out;
	if (c->second.node_id == id)
		return &c->second;
	return NULL;
}

static void registry_global(void *data, uint32_t id, uint32_t permissions, const char *type,
		uint32_t version, const struct spa_dict *props)
{
	struct card *c = data;
	struct fake_node *nodes[] = { &c->webcam, &c->h8, &c->h8_out, &c->second };
	(void)permissions; (void)version;

	if (props == NULL)
		return;
	if (spa_streq(type, PW_TYPE_INTERFACE_Node)) {
		const char *name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
		for (size_t i = 0; i < SPA_N_ELEMENTS(nodes); i++) {
			struct fake_node *n = nodes[i];
			const char *dev_id;
			if (n->stream == NULL || n->node_id != SPA_ID_INVALID || !spa_streq(name, n->spec->name))
				continue;
			n->node_id = id;
			dev_id = spa_dict_lookup(props, PW_KEY_DEVICE_ID);
			if (dev_id == NULL || (uint32_t)atoi(dev_id) != n->device->global_id)
				fprintf(stderr, "h8-fake-card: node %s has device.id %s, not %u\n",
						name, dev_id ? dev_id : "(none)", n->device->global_id);
			schedule_advance(c);
		}
	} else if (spa_streq(type, PW_TYPE_INTERFACE_Port)) {
		const char *node = spa_dict_lookup(props, PW_KEY_NODE_ID);
		struct fake_node *n = node ? node_by_id(c, (uint32_t)atoi(node)) : NULL;
		/* A capture node's ports are outputs, a playback node's inputs. */
		if (n == NULL || !spa_streq(spa_dict_lookup(props, PW_KEY_PORT_DIRECTION),
					n->spec->fifo == NULL ? "in" : "out") ||
				spa_atob(spa_dict_lookup(props, PW_KEY_PORT_MONITOR)))
			return;
		if (n->n_ports < MAX_PORTS)
			n->ports[n->n_ports++] = id;
		schedule_advance(c);
	}
}

static void registry_global_remove(void *data, uint32_t id)
{
	struct card *c = data;
	struct fake_node *nodes[] = { &c->webcam, &c->h8, &c->h8_out, &c->second };

	for (size_t i = 0; i < SPA_N_ELEMENTS(nodes); i++) {
		struct fake_node *n = nodes[i];
		if (n->node_id == id) {
			n->node_id = SPA_ID_INVALID;
			n->n_ports = 0;
			schedule_advance(c);
			continue;
		}
		for (uint32_t p = 0; p < n->n_ports; p++) {
			if (n->ports[p] == id) {
				n->ports[p] = n->ports[--n->n_ports];
				break;
			}
		}
	}
}

static const struct pw_registry_events registry_events = {
	.version = PW_VERSION_REGISTRY_EVENTS,
	.global = registry_global,
	.global_remove = registry_global_remove,
};

/* ---- the connection ---- */

static void core_error(void *data, uint32_t id, int seq, int res, const char *message)
{
	struct card *c = data;
	(void)seq;
	if (id == PW_ID_CORE && res == -EPIPE) {
		if (!c->lost)
			fprintf(stderr, "h8-fake-card: lost the server; reconnecting\n");
		c->lost = true;
		arm_retry(c, true);
		return;
	}
	fprintf(stderr, "h8-fake-card: server error on object %u: %s (%s)\n", id, message,
			spa_strerror(res));
}

static const struct pw_core_events core_events = {
	.version = PW_VERSION_CORE_EVENTS,
	.error = core_error,
};

static bool connect_server(struct card *c)
{
	c->core = pw_context_connect(c->context, NULL, 0);
	if (c->core == NULL) {
		if (!c->reported_unreachable)
			fprintf(stderr, "h8-fake-card: cannot reach the server (%s); retrying every 200 ms\n",
					strerror(errno));
		c->reported_unreachable = true;
		return false;
	}
	pw_core_add_listener(c->core, &c->core_listener, &core_events, c);
	c->registry = pw_core_get_registry(c->core, PW_VERSION_REGISTRY, 0);
	if (c->registry == NULL) {
		fprintf(stderr, "h8-fake-card: cannot get the registry: %s\n", strerror(errno));
		spa_hook_remove(&c->core_listener);
		pw_core_disconnect(c->core);
		c->core = NULL;
		return false;
	}
	pw_registry_add_listener(c->registry, &c->registry_listener, &registry_events, c);
	if (c->reported_unreachable)
		fprintf(stderr, "h8-fake-card: connected\n");
	c->reported_unreachable = false;
	return true;
}

static void disconnect_server(struct card *c)
{
	struct fake_device *devices[] = { &c->webcam_dev, &c->h8_dev, &c->second_dev };

	struct fake_node *nodes[] = { &c->second, &c->h8_out, &c->h8, &c->webcam };

	/* Disconnecting would leave the streams and proxies behind, merely marked removed. */
	for (size_t i = 0; i < SPA_N_ELEMENTS(nodes); i++) {
		node_unload(nodes[i]);
		nodes[i]->node_id = SPA_ID_INVALID;
		nodes[i]->n_ports = 0;
	}
	for (size_t i = 0; i < SPA_N_ELEMENTS(devices); i++)
		if (devices[i]->proxy != NULL)
			pw_proxy_destroy(devices[i]->proxy);
	if (c->registry != NULL) {
		spa_hook_remove(&c->registry_listener);
		pw_proxy_destroy((struct pw_proxy *)c->registry);
		c->registry = NULL;
	}
	if (c->core != NULL) {
		spa_hook_remove(&c->core_listener);
		pw_core_disconnect(c->core);
		c->core = NULL;
	}
	c->lost = false;
}

static void arm_retry(struct card *c, bool now)
{
	struct timespec value = { 0, now ? 1 : RETRY_NSEC };
	int res = pw_loop_update_timer(c->loop, c->retry_timer, &value, NULL, false);
	if (res < 0)
		fprintf(stderr, "h8-fake-card: cannot arm the retry timer: %s\n", spa_strerror(res));
}

static void on_retry(void *data, uint64_t expirations)
{
	struct card *c = data;
	(void)expirations;
	if (c->lost) {
		disconnect_server(c);
		publish_state(c);
	}
	if (c->core == NULL && !connect_server(c)) {
		arm_retry(c, false);
		return;
	}
	advance(c);
}

/* ---- commands ---- */

static void run_command(struct card *c, char *line)
{
	char *save = NULL, *verb = strtok_r(line, " \t\r", &save);
	char *arg = verb ? strtok_r(NULL, " \t\r", &save) : NULL;
	bool extra = arg ? strtok_r(NULL, " \t\r", &save) != NULL : false;

	if (verb == NULL)
		return;
	if (strcmp(verb, "quit") == 0 && arg == NULL) {
		pw_main_loop_quit(c->main_loop);
		return;
	}
	if ((strcmp(verb, "unplug") == 0 || strcmp(verb, "plug") == 0) && arg == NULL) {
		c->plugged = strcmp(verb, "plug") == 0;
		if (c->core == NULL)
			publish_state(c);	/* kept for when the server is back */
		else
			schedule_advance(c);
		return;
	}
	if (strcmp(verb, "second") == 0 && arg != NULL && !extra &&
			(strcmp(arg, "plug") == 0 || strcmp(arg, "unplug") == 0)) {
		c->second_plugged = strcmp(arg, "plug") == 0;
		if (c->core == NULL)
			publish_state(c);	/* kept for when the server is back */
		else
			schedule_advance(c);
		return;
	}
	if (strcmp(verb, "profile") == 0 && arg != NULL && !extra) {
		for (size_t p = 0; p < SPA_N_ELEMENTS(profile_names); p++) {
			if (strcmp(arg, profile_names[p]) == 0) {
				c->profile = (enum profile)p;
				if (c->core == NULL)
					publish_state(c);	/* kept for when the server is back */
				else
					schedule_advance(c);
				return;
			}
		}
	}
	fprintf(stderr, "h8-fake-card: unknown command \"%s%s%s\""
			" (profile 2|16|off, unplug, plug, second plug|unplug, quit)\n",
			verb, arg ? " " : "", arg ? arg : "");
}

static void on_ctl(void *data, int fd, uint32_t mask)
{
	struct card *c = data;
	(void)mask;
	for (;;) {
		ssize_t got = read(fd, c->ctl_buf + c->ctl_len, sizeof(c->ctl_buf) - 1 - c->ctl_len);
		char *nl;
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0) {
			if (errno != EAGAIN)
				fprintf(stderr, "h8-fake-card: cannot read card.ctl: %s\n", strerror(errno));
			return;
		}
		if (got == 0)
			return;
		c->ctl_len += (size_t)got;
		c->ctl_buf[c->ctl_len] = '\0';
		while ((nl = memchr(c->ctl_buf, '\n', c->ctl_len)) != NULL) {
			size_t used = (size_t)(nl - c->ctl_buf) + 1;
			*nl = '\0';
			run_command(c, c->ctl_buf);
			memmove(c->ctl_buf, c->ctl_buf + used, c->ctl_len - used);
			c->ctl_len -= used;
		}
		if (c->ctl_len == sizeof(c->ctl_buf) - 1) {
			fprintf(stderr, "h8-fake-card: dropping an overlong command\n");
			c->ctl_len = 0;
		}
	}
}

static void on_signal(void *data, int signal_number)
{
	struct card *c = data;
	(void)signal_number;
	pw_main_loop_quit(c->main_loop);
}

/* ---- set-up ---- */

/* Creates DIR/name as a FIFO (replacing anything else of that name) and opens it read-write. */
static int open_fifo(const struct card *c, const char *name)
{
	char *path = dir_path(c, name);
	struct stat st;
	int fd;

	if (lstat(path, &st) == 0 && !S_ISFIFO(st.st_mode) && unlink(path) < 0) {
		fprintf(stderr, "h8-fake-card: cannot remove %s: %s\n", path, strerror(errno));
		free(path);
		return -1;
	}
	if (mkfifo(path, 0600) < 0 && errno != EEXIST) {
		fprintf(stderr, "h8-fake-card: cannot create %s: %s\n", path, strerror(errno));
		free(path);
		return -1;
	}
	fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		fprintf(stderr, "h8-fake-card: cannot open %s: %s\n", path, strerror(errno));
	free(path);
	return fd;
}

static struct pw_properties *webcam_props(void)
{
	return pw_properties_new(
		PW_KEY_MEDIA_CLASS, "Audio/Device",
		PW_KEY_DEVICE_API, "alsa",
		PW_KEY_DEVICE_BUS, "usb",
		PW_KEY_DEVICE_VENDOR_ID, "0x1b3f",
		PW_KEY_DEVICE_PRODUCT_ID, "0x2247",
		PW_KEY_DEVICE_VENDOR_NAME, "Generic",
		PW_KEY_DEVICE_PRODUCT_NAME, "USB Webcam",
		PW_KEY_DEVICE_DESCRIPTION, "USB Webcam",
		PW_KEY_DEVICE_NAME, "alsa_card.usb-Generic_USB_Webcam_WC0001-02",
		PW_KEY_DEVICE_NICK, "USB Webcam",
		PW_KEY_DEVICE_FORM_FACTOR, "webcam",
		PW_KEY_DEVICE_BUS_PATH, "pci-0000:00:14.0-usb-0:3:1.2",
		PW_KEY_DEVICE_STRING, "1",
		"api.alsa.card", "1",
		"api.alsa.card.name", "USB Webcam",
		"api.alsa.card.longname", "Generic USB Webcam at usb-0000:00:14.0-3, high speed",
		NULL);
}

/* An H8 with USB serial number `serial` on root port `port`, as ALSA card `card`. */
static struct pw_properties *h8_props(const char *serial, int port, int card)
{
	struct pw_properties *props = pw_properties_new(
		PW_KEY_MEDIA_CLASS, "Audio/Device",
		PW_KEY_DEVICE_API, "alsa",
		PW_KEY_DEVICE_BUS, "usb",
		PW_KEY_DEVICE_VENDOR_ID, "0x309c",
		PW_KEY_DEVICE_PRODUCT_ID, "0x0018",
		PW_KEY_DEVICE_VENDOR_NAME, "Norvalt",
		PW_KEY_DEVICE_PRODUCT_NAME, "H8",
		PW_KEY_DEVICE_DESCRIPTION, "H8",
		PW_KEY_DEVICE_SERIAL, serial,
		PW_KEY_DEVICE_NICK, "H8",
		"api.alsa.card.name", "H8",
		NULL);
	if (props == NULL) {
		fprintf(stderr, "h8-fake-card: out of memory\n");
		exit(1);
	}
	pw_properties_setf(props, PW_KEY_DEVICE_NAME, "alsa_card.usb-Norvalt_H8_%s-00", serial);
	pw_properties_setf(props, PW_KEY_DEVICE_BUS_PATH, "pci-0000:00:14.0-usb-0:%d:1.0", port);
	pw_properties_setf(props, PW_KEY_DEVICE_STRING, "%d", card);
	pw_properties_setf(props, "api.alsa.card", "%d", card);
	pw_properties_setf(props, "api.alsa.card.longname",
			"Norvalt H8 at usb-0000:00:14.0-%d, high speed", port);
	return props;
}

int main(int argc, char *argv[])
{
	struct card card = { 0 };
	struct card *c = &card;
	int status = 1;

	if (argc != 2) {
		fprintf(stderr, "usage: h8-fake-card DIR\n");
		return 2;
	}
	c->dir = argv[1];
	c->ctl_fd = -1;
	for (size_t i = 0; i < SPA_N_ELEMENTS(c->fifo_fds); i++)
		c->fifo_fds[i] = -1;
	c->profile = PROFILE_16;
	c->plugged = true;

	/* The server of DIR, whatever the caller's own settings say. */
	if (setenv("PIPEWIRE_RUNTIME_DIR", c->dir, 1) < 0 || unsetenv("PIPEWIRE_REMOTE") < 0) {
		fprintf(stderr, "h8-fake-card: cannot set the environment: %s\n", strerror(errno));
		return 1;
	}
	/* Blocked in every thread, the loop's own threads included: the loop takes them from a
	 * signalfd. */
	sigset_t quit_signals;
	sigemptyset(&quit_signals);
	sigaddset(&quit_signals, SIGTERM);
	sigaddset(&quit_signals, SIGINT);
	if (sigprocmask(SIG_BLOCK, &quit_signals, NULL) < 0 || signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
		fprintf(stderr, "h8-fake-card: cannot set up signals: %s\n", strerror(errno));
		return 1;
	}
	pw_init(&argc, &argv);

	for (size_t i = 0; i < SPA_N_ELEMENTS(fifo_names); i++)
		if ((c->fifo_fds[i] = open_fifo(c, fifo_names[i])) < 0)
			goto out;
	if ((c->ctl_fd = open_fifo(c, "card.ctl")) < 0)
		goto out;
	{
		char *state = dir_path(c, "card.state");
		if (unlink(state) < 0 && errno != ENOENT)
			fprintf(stderr, "h8-fake-card: cannot remove %s: %s\n", state, strerror(errno));
		free(state);
	}

	device_init(&c->webcam_dev, c, webcam_props());
	device_init(&c->h8_dev, c, h8_props("1234ABCD", 1, 2));
	device_init(&c->second_dev, c, h8_props("5678EF01", 2, 4));
	c->webcam = (struct fake_node){ .card = c, .device = &c->webcam_dev, .node_id = SPA_ID_INVALID };
	c->h8 = (struct fake_node){ .card = c, .device = &c->h8_dev, .node_id = SPA_ID_INVALID };
	c->h8_out = (struct fake_node){ .card = c, .device = &c->h8_dev, .node_id = SPA_ID_INVALID };
	c->second = (struct fake_node){ .card = c, .device = &c->second_dev, .node_id = SPA_ID_INVALID };

	c->main_loop = pw_main_loop_new(NULL);
	if (c->main_loop == NULL) {
		fprintf(stderr, "h8-fake-card: cannot create the main loop: %s\n", strerror(errno));
		goto out;
	}
	c->loop = pw_main_loop_get_loop(c->main_loop);
	c->context = pw_context_new(c->loop, NULL, 0);
	if (c->context == NULL) {
		fprintf(stderr, "h8-fake-card: cannot create the context: %s\n", strerror(errno));
		goto out;
	}
	c->retry_timer = pw_loop_add_timer(c->loop, on_retry, c);
	c->advance_event = pw_loop_add_event(c->loop, on_advance, c);
	c->ctl_source = pw_loop_add_io(c->loop, c->ctl_fd, SPA_IO_IN, false, on_ctl, c);
	if (c->retry_timer == NULL || c->advance_event == NULL || c->ctl_source == NULL ||
			pw_loop_add_signal(c->loop, SIGTERM, on_signal, c) == NULL ||
			pw_loop_add_signal(c->loop, SIGINT, on_signal, c) == NULL) {
		fprintf(stderr, "h8-fake-card: cannot set up the main loop: %s\n", strerror(errno));
		goto out;
	}

	if (connect_server(c)) {
		schedule_advance(c);
	} else {
		publish_state(c);
		arm_retry(c, false);
	}
	if (pw_main_loop_run(c->main_loop) < 0) {
		fprintf(stderr, "h8-fake-card: the main loop failed: %s\n", strerror(errno));
		goto out;
	}
	status = 0;

out:
	if (c->context != NULL) {
		disconnect_server(c);
		/* The state of a program that has ended would mislead whoever reads it. */
		char *state = dir_path(c, "card.state");
		unlink(state);
		free(state);
		pw_context_destroy(c->context);
	}
	if (c->main_loop != NULL)
		pw_main_loop_destroy(c->main_loop);
	pw_properties_free(c->webcam_dev.props);
	pw_properties_free(c->h8_dev.props);
	pw_properties_free(c->second_dev.props);
	if (c->ctl_fd >= 0)
		close(c->ctl_fd);
	for (size_t i = 0; i < SPA_N_ELEMENTS(c->fifo_fds); i++)
		if (c->fifo_fds[i] >= 0)
			close(c->fifo_fds[i]);
	pw_deinit();
	return status;
}
