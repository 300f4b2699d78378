// The host kit's own rules: what each lifetime does with references, and
// what the ledger books, lists and injects.

#include <gtest/gtest.h>

#include "host_kit/host_objects.hpp"

namespace {

using namespace host_kit;
using kept_picture = picture<recorded>;

TEST(host_kit, a_deleting_object_goes_with_its_last_reference_a_kept_one_never) {
  auto* plain_picture = new picture<plain>(2, 2);
  EXPECT_EQ(plain_picture->AddRef(), 2u);
  EXPECT_EQ(plain_picture->Release(), 1u);
  EXPECT_EQ(plain_picture->Release(), 0u);  // deleted: the sanitizers see any leak or reuse

  ledger books;
  kept_picture kept(2, 2);
  kept.enlist(books, "image");
  kept.hand_out();
  EXPECT_EQ(kept.Release(), 1u);
  EXPECT_EQ(kept.Release(), 1u);  // the host's own reference is refused
  EXPECT_EQ(kept.books().held(), -1);
  EXPECT_EQ(books.errors, std::vector<std::string>{"image released more often than referenced"});
  EXPECT_EQ(books.calls, (std::vector<std::string>{"image.Release", "image.Release"}));
}

TEST(host_kit, the_ledger_throws_at_the_nth_counted_call_and_answers_null_at_the_nth_object) {
  ledger books;
  settings<recorded> facts(render_facts{Uuid{{1, 2, 3, 4}}, 5, true, 6, 7});
  services<recorded> offered(module_resources<recorded>{}, "host text");
  application<recorded> app(440500, offered, &facts);
  facts.enlist(books, "settings");
  offered.enlist(books, "services");
  app.enlist(books, "application");

  books.throw_at = 3;  // AddRef and Release are never counted
  app.AddRef();
  EXPECT_EQ(app.get_version(0), 440500);
  app.Release();
  EXPECT_EQ(facts.get_gi_method(0), 5);
  EXPECT_THROW(facts.get_setup_time(0), injected_fault);
  books.throw_at = 0;

  books.null_at = books.object_calls + 2;
  EXPECT_EQ(app.get_services(0), &offered);
  EXPECT_EQ(app.get_render_settings(0), nullptr);
  EXPECT_EQ(books.null_answered, "HostApplication::get_render_settings");
  books.borrowed_may_be_null = false;
  books.null_at = books.object_calls + 1;
  EXPECT_EQ(app.get_services(0), &offered);  // borrowed: not among them now
  EXPECT_EQ(app.get_render_settings(0), nullptr);
  EXPECT_EQ(facts.books().handed_out, 0);
  EXPECT_STREQ(offered.get_localized_string("missing"), "");
  EXPECT_STREQ(offered.get_version_text(), "host text");
  EXPECT_EQ(books.count("application.get_render_settings"), 2);
  EXPECT_EQ(books.counts().at("services.get_version_text"), 1);
  books.clear_counts();
  EXPECT_EQ(books.count("application.get_render_settings"), 0);
}

TEST(host_kit, a_picture_books_accesses_outside_its_answered_size_and_late_calls) {
  ledger books;
  books.trace_calls = true;
  kept_picture image(2, 1, Bgra8{1, 2, 3, 4});
  image.enlist(books, "the output image");
  image.claim_size(ImageSize{3, 1});
  Bgra8 pixel{0, 0, 0, 0};
  image.get_pixel(1, 0, &pixel, 0);
  EXPECT_EQ(pixel.alpha, 4);
  image.set_pixel(2, 0, &pixel, 0);  // inside the answered size, beyond what it holds
  image.set_pixel(3, 0, &pixel, 7);
  image.get_pixel(-1, 0, &pixel, 0);
  EXPECT_EQ(image.books().outside_accesses, 2);
  EXPECT_EQ(image.books().first_outside, "set_pixel(3, 0) on the output image of 3x1");
  EXPECT_EQ(image.books().reserved_not_zero, 1);
  EXPECT_TRUE(books.calls.empty()) << "pixel calls are listed only when asked for";
  ASSERT_EQ(books.trace.size(), 4u);
  EXPECT_EQ(books.trace[2].what, call::set_pixel);
  EXPECT_EQ(books.trace[2].x, 3);

  image.books().gone = true;
  ImageSize size{0, 0};
  image.get_size(&size, 0);
  EXPECT_EQ(size.width, 3);
  EXPECT_EQ(books.late_calls, std::vector<std::string>{"the output image::get_size"});
}

// What a lent object holds at the start of a plug-in call it holds at its
// end; an owned result is not used once its last reference is released.
// Each finding names the call in progress.
TEST(host_kit, the_ledger_judges_lent_and_owned_references_by_the_call_that_made_them) {
  ledger books;
  kept_picture lent(1, 1), owned(2, 2);
  lent.enlist(books, "the lent picture");
  owned.enlist(books, "the owned picture");
  lent.books().role = object_role::lent;
  owned.books().role = object_role::owned;
  {
    const ledger::plugin_call call(books, "begin_render (slot 205)");
    EXPECT_EQ(books.current_call(), "begin_render (slot 205)");
    lent.AddRef();
    lent.AddRef();
    lent.Release();  // one given back, one kept
  }
  {
    const ledger::plugin_call call(books, "end_render (slot 207)");
    lent.AddRef();
    lent.Release();  // balanced within the call: fine
    HostImage* image = owned.hand_out();
    ImageSize size{0, 0};
    image->get_size(&size, 0);  // held: fine
    image->Release();
    Bgra8 pixel{0, 0, 0, 0};
    for (int i = 0; i < 100; ++i) image->set_pixel(0, 0, &pixel, 0);
    image->AddRef();
  }
  EXPECT_TRUE(books.current_call().empty());
  EXPECT_EQ(books.lent_kept,
            std::vector<std::string>{"begin_render (slot 205) added 1 reference(s) to the lent "
                                     "picture, which the host lends it, and returned without "
                                     "releasing them"});
  ASSERT_EQ(books.used_after_release.size(), 32u) << "the first few, not one per pixel";
  EXPECT_EQ(books.used_after_release.front(),
            "end_render (slot 207) called the owned picture's set_pixel after releasing its last "
            "reference to it");
  EXPECT_EQ(owned.books().count(call::set_pixel), 100) << "every call still counted";
}

// The observer hears every call but the pixel calls, after it is recorded.
TEST(host_kit, the_ledger_tells_its_observer_of_each_call) {
  ledger books;
  settings<recorded> render_settings;
  render_settings.enlist(books, "RenderSettings");
  std::vector<call> heard;
  books.observer = [&heard](const object_books& object, call c) {
    EXPECT_EQ(object.name, "RenderSettings");
    heard.push_back(c);
  };
  render_settings.get_gi_method(0);
  render_settings.notify_image_changed(0);
  EXPECT_EQ(heard, (std::vector<call>{call::get_gi_method, call::notify_image_changed}));
}

}  // namespace
