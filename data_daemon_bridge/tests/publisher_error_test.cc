#include "publisher/publisher_error.h"

#include "gtest/gtest.h"

namespace data_daemon_bridge {
namespace {

using data_daemon_shared::CodecError;
using data_daemon_shared::CodecErrorKind;

TEST(PublisherError, EveryVariantHasItsDisplayText) {
  const struct {
    PublisherError error;
    const char* text;
  } cases[] = {
      {{PublisherError::NodeCreate{"NodeCreationFailure::InsufficientPermissions"}},
       "failed to create iceoryx2 node: NodeCreationFailure::InsufficientPermissions"},
      {{PublisherError::ServiceOpen{"invalid service name: ServiceNameError::InvalidContent"}},
       "failed to open service: invalid service name: ServiceNameError::InvalidContent"},
      {{PublisherError::PublisherCreate{"PublisherCreateError::ExceedsMaxSupportedPublishers"}},
       "failed to create publisher: PublisherCreateError::ExceedsMaxSupportedPublishers"},
      {{PublisherError::Loan{"LoanError::ExceedsMaxLoanSize"}},
       "failed to loan sample: LoanError::ExceedsMaxLoanSize"},
      {{PublisherError::Send{"no data-daemon command subscriber connected within 5s"}},
       "failed to send sample: no data-daemon command subscriber connected within 5s"},
      {{PublisherError::Codec{CodecError{CodecErrorKind::Decode, 4}}},
       "failed to decode envelope: Hit the end of buffer, expected more data"},
      {{PublisherError::PayloadTooLarge{1048577, 1048576}},
       "envelope payload 1048577 bytes exceeds limit 1048576 bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(publisher_error_text(c.error), c.text);
}

}  // namespace
}  // namespace data_daemon_bridge
